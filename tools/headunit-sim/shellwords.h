#pragma once

// sh-like word splitting of a device shell command line.
// `adb shell a b c` joins its arguments with single blanks and quotes nothing, while
// adb's install helpers single-quote each argument (`cmd package 'install' '-r' -S 42`),
// so the device side has to undo sh quoting itself.

#include <QString>
#include <QStringList>

struct ShellWords {
    QStringList words;
    bool ok = true; // false on an unterminated quote or a trailing backslash
};

// Blanks, tabs and newlines separate words; '...' is literal; "..." keeps its content
// with \" \\ \$ \` escapes; a backslash outside quotes takes the next character
// literally. No expansion, no redirection, no operators.
[[nodiscard]] ShellWords splitShellWords(const QString &line);
