#include "pairing.h"

#include "textrules.h"

#include <QRegularExpression>

namespace adb {

namespace {

const QLatin1String kPrompt("Enter pairing code: ");

QStringList saidLines(const QString &output)
{
    QStringList lines;
    for (const QString &line : splitPieces(output, isNewlineCharacter))
        lines << trimmed(line);
    return lines;
}

bool anyLine(const QStringList &lines, const std::function<bool(const QString &)> &test)
{
    return std::any_of(lines.cbegin(), lines.cend(), test);
}

} // namespace

bool canPair(const CommandResult &version)
{
    // An adb we can't place counts as one that can't pair: offering the code way and then
    // failing with words the person can't act on is worse than the disabled way, whose
    // text says which adb to install.
    if (version.stopped || version.status != 0)
        return false;
    static const QRegularExpression release(QStringLiteral("^Version ([0-9]{1,6})\\.[0-9]"));
    for (const QString &line : saidLines(version.output)) {
        const QRegularExpressionMatch match = release.match(line);
        if (match.hasMatch())
            return match.captured(1).toInt() >= 30;
    }
    return false;
}

bool adbCanPair(const QString &resourceDir, const Timing &timing)
{
    return canPair(run(resourceDir, {QStringLiteral("version")}, {timing.scanCommandMs, {}}));
}

QString withoutPairingPrompt(const QString &output)
{
    return output.startsWith(kPrompt) ? output.mid(kPrompt.size()) : output;
}

PairVerdict pairVerdict(const CommandResult &result)
{
    if (result.stopped)
        return PairVerdict::TimedOut;
    // A cold server puts its "* daemon ..." lines between the prompt and the answer.
    const QStringList lines = saidLines(withoutPairingPrompt(result.output));
    if (anyLine(lines, [](const QString &l) { return l.startsWith(QLatin1String("Successfully paired to")); }))
        return PairVerdict::Paired;
    if (anyLine(lines, [](const QString &l) { return l.contains(QLatin1String("Wrong password or connection was dropped")); }))
        return PairVerdict::WrongCode;
    if (anyLine(lines, [](const QString &l) { return l.startsWith(QLatin1String("error: protocol fault")); }))
        return PairVerdict::NotStarted;
    if (anyLine(lines, [](const QString &l) { return l.startsWith(QLatin1String("adb: unknown command pair")); }))
        return PairVerdict::Unsupported;
    return PairVerdict::Failed;
}

PairAttempt pairNetworkUnit(const QString &resourceDir, const QString &pairAddress, const QString &code,
                            const Timing &timing)
{
    RunLimits limits{timing.pairMs, {}};
    limits.standardInput = code.toUtf8() + '\n';
    const CommandResult result = run(resourceDir, {QStringLiteral("pair"), pairAddress}, limits);
    QString said = trimmed(withoutPairingPrompt(result.output));
    // adb has no reason to repeat the code, but its words go to the log and the screen.
    if (!code.isEmpty())
        said.replace(code, QString(code.size(), u'*'));
    return {pairVerdict(result), said};
}

QString pairingUnavailableText()
{
    return QStringLiteral("Для сопряжения по коду нужен adb 30 или новее.\n"
                          "В Debian 12 установите пакет adb из bookworm-backports (в Debian 13 подходящий уже "
                          "есть) и перезапустите установщик.");
}

QString pairLogText(const PairAttempt &attempt, const QString &pairAddress)
{
    QString explanation;
    switch (attempt.verdict) {
    case PairVerdict::Paired:
        return {};
    case PairVerdict::WrongCode:
        explanation = QStringLiteral("Код сопряжения не подошёл. Откройте на автомобиле окно с кодом сопряжения "
                                     "заново и введите новый код.");
        break;
    case PairVerdict::NotStarted:
        explanation = QStringLiteral("Не удалось начать сопряжение. Проверьте адрес и порт в окне с кодом "
                                     "сопряжения на автомобиле: они меняются каждый раз.");
        break;
    case PairVerdict::TimedOut:
        explanation = QStringLiteral("Нет ответа за 20 секунд. Проверьте, что автомобиль и компьютер в одной сети "
                                     "Wi-Fi и что окно с кодом сопряжения на автомобиле ещё открыто.");
        break;
    case PairVerdict::Unsupported:
        explanation = pairingUnavailableText();
        break;
    case PairVerdict::Failed:
        explanation = QStringLiteral("Проверьте адрес, порт и код в окне с кодом сопряжения на автомобиле.");
        break;
    }
    // As the install failures: the header, the explanation, a blank line, then adb's words,
    // which a time limit may have cut to nothing.
    const QString said = trimmed(withoutPairingPrompt(attempt.output));
    return QStringLiteral("Не удалось выполнить сопряжение с %1:\n").arg(pairAddress) + explanation
           + (said.isEmpty() ? QString() : QStringLiteral("\n\n") + said);
}

} // namespace adb
