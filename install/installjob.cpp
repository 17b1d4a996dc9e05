#include "installjob.h"

#include "backgroundwork.h"
#include "apkcheck.h"
#include "discovery.h"
#include "textrules.h"

#include <algorithm>

namespace install {

namespace {

QStringList trimmedLines(const QString &output)
{
    QStringList lines = adb::splitPieces(output, adb::isNewlineCharacter);
    for (QString &line : lines)
        line = adb::trimmed(line);
    return lines;
}

} // namespace

bool installSucceeded(const adb::CommandResult &result)
{
    if (result.status != 0)
        return false;
    const QStringList lines = trimmedLines(result.output);
    const bool failed = std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return line.startsWith(QLatin1String("Failure"));
    });
    return !failed && lines.contains(QLatin1String("Success"));
}

bool grantSucceeded(const adb::CommandResult &result)
{
    return result.status == 0 && adb::trimmed(result.output).isEmpty();
}

InstallResults runInstallJob(const QString &resourceDir, const QString &serial,
                             const QString &apkFile, const adb::StopFlag &stop)
{
    const adb::RunLimits limits{std::nullopt, stop};
    const auto stopped = [&stop] { return stop && stop->load(); };
    InstallResults results;
    results.install = adb::run(resourceDir, {QStringLiteral("-s"), serial, QStringLiteral("install"),
                                             QStringLiteral("-r"), apkFile}, limits);
    if (!installSucceeded(results.install) || stopped())
        return results;
    results.grant = adb::run(resourceDir, {QStringLiteral("-s"), serial, QStringLiteral("shell"),
                                           QStringLiteral("appops"), QStringLiteral("set"),
                                           adb::kPackageId, QStringLiteral("REQUEST_INSTALL_PACKAGES"),
                                           QStringLiteral("allow")}, limits);
    if (stopped())
        return results;
    (void)adb::run(resourceDir, {QStringLiteral("-s"), serial, QStringLiteral("shell"),
                                 QStringLiteral("monkey"), QStringLiteral("-p"), adb::kPackageId,
                                 QStringLiteral("-c"), QStringLiteral("android.intent.category.LAUNCHER"),
                                 QStringLiteral("1")}, limits);
    return results;
}

void startInstall(QObject *context, const QString &resourceDir, const DeviceInfo &device,
                  std::function<void(const InstallResults &, const DeviceInfo &)> completion,
                  const adb::StopFlag &stop)
{
    const QString apkFile = apkPath(resourceDir);
    runInBackground(
        context,
        [resourceDir, apkFile, device, stop] {
            return std::make_pair(runInstallJob(resourceDir, device.serial(), apkFile, stop), device);
        },
        [completion = std::move(completion)](const std::pair<InstallResults, DeviceInfo> &done) {
            completion(done.first, done.second);
        });
}

InstallOutcome installOutcome(const InstallResults &results)
{
    if (!installSucceeded(results.install)) {
        return {false, QStringLiteral("Ошибка установки:\n") + results.install.output,
                QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА")};
    }
    const QString badge = QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА");
    if (!grantSucceeded(results.grant)) {
        return {true,
                QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n")
                    + results.grant.output,
                badge};
    }
    return {true, QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано."),
            badge};
}

bool connectionLost(const InstallResults &results, const ConnectionFacts &facts)
{
    if (facts.cutOff)
        return true;
    if (installSucceeded(results.install))
        return false;
    const QStringList lines = trimmedLines(results.install.output);
    const bool verdict = std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return line == QLatin1String("Success") || line.contains(QLatin1String("Failure"));
    });
    return !facts.listedNow || (facts.wasMissing && !verdict);
}

InstallOutcome lostConnectionOutcome()
{
    return {false,
            QStringLiteral("Связь с автомобилем потеряна во время установки. Подключите автомобиль снова: "
                           "строка «Zorvik App» покажет, установлено ли приложение."),
            QStringLiteral("●  СВЯЗЬ С АВТОМОБИЛЕМ ПОТЕРЯНА")};
}

AlertText verificationFailedAlert()
{
    return {QStringLiteral("Проверка Zorvik App не пройдена"),
            QStringLiteral("APK внутри установщика повреждён или был изменён. Установка отменена.")};
}

AlertText confirmationAlert(bool installed)
{
    return {installed ? QStringLiteral("Обновить Zorvik App?") : QStringLiteral("Установить Zorvik App?"),
            QStringLiteral("Будет обновлён пакет ru.zorvik.store и выдано только разрешение "
                           "REQUEST_INSTALL_PACKAGES, необходимое для установки выбранных APK. "
                           "ECU, CAN, ADAS и системные разделы не изменяются.")};
}

} // namespace install
