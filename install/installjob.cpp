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

// The install's refusals told in the person's words, by the code adb passes on from the
// unit. Both install roads carry it: the streamed one as
//     adb: failed to install /path/ZorvikStore.apk: Failure [INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected: ...]
// the push one as a bare "Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]" with status 0.
// Where removing the app is the cure, the person does it on the car: the installer never
// uninstalls anything itself, as that deletes the person's data in the app.
QString installExplanation(const QString &output)
{
    struct Row
    {
        QStringList codes;
        QString explanation;
    };
    static const QList<Row> table{
        {{QStringLiteral("INSTALL_FAILED_VERSION_DOWNGRADE")},
         QStringLiteral("На автомобиле уже стоит более новая версия Zorvik App. Обновлять её не нужно.")},
        {{QStringLiteral("INSTALL_FAILED_INSUFFICIENT_STORAGE")},
         QStringLiteral("На мультимедийной системе не хватает места. Удалите ненужные приложения на "
                        "автомобиле и повторите установку.")},
        {{QStringLiteral("INSTALL_FAILED_UPDATE_INCOMPATIBLE"), QStringLiteral("INSTALL_FAILED_SHARED_USER_INCOMPATIBLE")},
         QStringLiteral("На автомобиле стоит Zorvik App с другой подписью. Удалите его в настройках "
                        "автомобиля и повторите установку.")},
        {{QStringLiteral("INSTALL_FAILED_OLDER_SDK")},
         QStringLiteral("Эта версия Android слишком старая для Zorvik App.")},
        {{QStringLiteral("INSTALL_FAILED_USER_RESTRICTED"), QStringLiteral("INSTALL_FAILED_VERIFICATION_FAILURE")},
         QStringLiteral("Автомобиль не разрешил установку. Посмотрите на его экран: разрешите установку "
                        "через USB и повторите.")},
    };
    for (const Row &row : table) {
        if (std::any_of(row.codes.cbegin(), row.codes.cend(), [&](const QString &code) { return output.contains(code); }))
            return row.explanation;
    }
    return {};
}

// REQUEST_INSTALL_PACKAGES came with Android 8 (API 26); before it appops does not know
// the operation, and the switch that matters is "Unknown sources". The sdk counts only
// when it is a plain number: a unit that hid it gets no guess.
QString grantExplanation(const QString &output, const QString &sdk)
{
    const bool digits = !sdk.isEmpty() && std::all_of(sdk.cbegin(), sdk.cend(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    bool read = false;
    const int level = sdk.toInt(&read);
    if (!digits || !read || level >= 26 || !output.contains(QLatin1String("Unknown operation string")))
        return {};
    return QStringLiteral("На Android 7 и более ранних версиях это разрешение не нужно: установку "
                          "приложений разрешает переключатель «Неизвестные источники» в настройках "
                          "безопасности автомобиля.");
}

// The header, then the explanation and a blank line when there is one, then adb's words.
QString failureText(const QString &header, const QString &explanation, const QString &output)
{
    return header + (explanation.isEmpty() ? QString() : explanation + QStringLiteral("\n\n")) + output;
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
                             const QString &apkFile, const adb::StopFlag &stop, const adb::Timing &timing)
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
                                           QStringLiteral("allow")}, {timing.appopsMs, stop});
    if (stopped())
        return results;
    (void)adb::run(resourceDir, {QStringLiteral("-s"), serial, QStringLiteral("shell"),
                                 QStringLiteral("monkey"), QStringLiteral("-p"), adb::kPackageId,
                                 QStringLiteral("-c"), QStringLiteral("android.intent.category.LAUNCHER"),
                                 QStringLiteral("1")}, {timing.monkeyMs, stop});
    return results;
}

void startInstall(QObject *context, const QString &resourceDir, const DeviceInfo &device,
                  std::function<void(const InstallResults &, const DeviceInfo &)> completion,
                  const adb::StopFlag &stop, const adb::Timing &timing)
{
    const QString apkFile = apkPath(resourceDir);
    runInBackground(
        context,
        [resourceDir, apkFile, device, stop, timing] {
            return std::make_pair(runInstallJob(resourceDir, device.serial(), apkFile, stop, timing), device);
        },
        [completion = std::move(completion)](const std::pair<InstallResults, DeviceInfo> &done) {
            completion(done.first, done.second);
        });
}

InstallOutcome installOutcome(const InstallResults &results, const QString &sdk)
{
    const adb::CommandResult &install = results.install;
    if (!installSucceeded(install)) {
        return {false, failureText(QStringLiteral("Ошибка установки:\n"), installExplanation(install.output), install.output),
                QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА")};
    }
    const QString badge = QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА");
    if (!grantSucceeded(results.grant)) {
        const QString header = QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n");
        // Whatever a hung appops printed before its end explains nothing.
        if (results.grant.stopped)
            return {true, header + QStringLiteral("нет ответа за 30 секунд"), badge};
        return {true, failureText(header, grantExplanation(results.grant.output, sdk), results.grant.output), badge};
    }
    return {true, QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано."),
            badge};
}

bool connectionLost(const InstallResults &results, const ConnectionFacts &facts)
{
    // adb's "Success" is the unit's own word that the package is on it, whatever happened
    // to the cable after it: the lost-unit clock may run out between the job's end and its
    // results reaching the window.
    if (installSucceeded(results.install))
        return false;
    if (facts.cutOff)
        return true;
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

AlertText closeDuringInstallAlert()
{
    return {QStringLiteral("Установка ещё идёт"),
            QStringLiteral("Если закрыть установщик сейчас, Zorvik App может остаться без разрешения на "
                           "установку приложений.")};
}

} // namespace install
