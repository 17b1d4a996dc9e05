#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// How one step of the tracker looks.
enum class StepColour { White, Pending, Green };

struct StepLook
{
    QString text;
    StepColour colour = StepColour::Pending;
};

// The step rule: the first `completed` steps read "✓   Title" and are white, or all green
// once every step (three) is done; the others read "N   Title", white when they are the
// `current` step and grey otherwise. A `current` that points at a finished step does nothing.
[[nodiscard]] QList<StepLook> stepLooks(const QStringList &titles, int completed,
                                        std::optional<int> current);

// The busy rule: what the controls show while background work runs and after it.
struct BusyLook
{
    bool installEnabled = false;
    bool popupEnabled = false;
    bool progressRunning = false;
};

[[nodiscard]] BusyLook busyLook(bool busy, qsizetype readyDeviceCount);
