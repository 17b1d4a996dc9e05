#include "profile.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

QMap<QString, QString> Profile::properties() const
{
    QMap<QString, QString> props{
        {QStringLiteral("ro.product.manufacturer"), manufacturer},
        {QStringLiteral("ro.product.brand"), manufacturer},
        {QStringLiteral("ro.product.model"), model},
        {QStringLiteral("ro.product.name"), productName},
        {QStringLiteral("ro.product.device"), deviceName},
        {QStringLiteral("ro.product.cpu.abi"), QStringLiteral("arm64-v8a")},
        {QStringLiteral("ro.build.version.release"), release},
        {QStringLiteral("ro.build.version.sdk"), sdk},
        {QStringLiteral("ro.build.display.id"), buildId},
        {QStringLiteral("ro.build.type"), QStringLiteral("user")},
        {QStringLiteral("ro.build.tags"), QStringLiteral("release-keys")},
        {QStringLiteral("ro.serialno"), serialNo},
        {QStringLiteral("ro.sf.lcd_density"), QString::number(density)},
        {QStringLiteral("sys.boot_completed"), QStringLiteral("1")},
    };
    for (auto it = extraProperties.cbegin(); it != extraProperties.cend(); ++it)
        props.insert(it.key(), it.value());
    return props;
}

QByteArray Profile::banner() const
{
    // No abb_exec: adb then installs through `exec:cmd package 'install' ... -S <size>`.
    // An older unit names no features at all: adb falls back to the old `shell:` service
    // and to pushing the APK over `sync:` for `pm install`.
    return QStringLiteral("device::ro.product.name=%1;ro.product.model=%2;ro.product.device=%3;"
                          "features=%4")
        .arg(productName, model, deviceName,
             legacy ? QString() : QStringLiteral("cmd,shell_v2"))
        .toUtf8();
}

namespace {

// Accepts 30 as well as "30": profiles are hand-written.
bool readText(const QJsonValue &value, QString &out)
{
    if (value.isString()) {
        out = value.toString();
        return true;
    }
    if (value.isDouble()) {
        out = QString::number(value.toDouble(), 'g', 15);
        return true;
    }
    return false;
}

bool readInt(const QJsonValue &value, int &out)
{
    if (value.isNull()) {
        out = 0;
        return true;
    }
    if (value.isDouble()) {
        out = value.toInt(-1);
        return out >= 0;
    }
    bool ok = false;
    out = value.toString().toInt(&ok);
    return ok && out >= 0;
}

bool readBool(const QJsonValue &value, bool &out)
{
    if (!value.isBool())
        return false;
    out = value.toBool();
    return true;
}

bool readProperties(const QJsonValue &value, QMap<QString, QString> &out)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        QString text;
        if (!readText(it.value(), text))
            return false;
        out.insert(it.key(), text);
    }
    return true;
}

} // namespace

ProfileLoad loadProfile(const QByteArray &json)
{
    ProfileLoad load;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        load.error = parseError.error != QJsonParseError::NoError
                         ? QStringLiteral("profile is not valid JSON: %1").arg(parseError.errorString())
                         : QStringLiteral("profile must be a JSON object");
        return load;
    }

    Profile &p = load.profile;
    using Reader = std::function<bool(const QJsonValue &)>;
    const auto text = [](QString &field) { return Reader([&field](const QJsonValue &v) { return readText(v, field); }); };
    const auto number = [](int &field) { return Reader([&field](const QJsonValue &v) { return readInt(v, field); }); };
    const auto flag = [](bool &field) { return Reader([&field](const QJsonValue &v) { return readBool(v, field); }); };

    const QMap<QString, Reader> readers{
        {QStringLiteral("manufacturer"), text(p.manufacturer)},
        {QStringLiteral("model"), text(p.model)},
        {QStringLiteral("productName"), text(p.productName)},
        {QStringLiteral("deviceName"), text(p.deviceName)},
        {QStringLiteral("release"), text(p.release)},
        {QStringLiteral("sdk"), text(p.sdk)},
        {QStringLiteral("buildId"), text(p.buildId)},
        {QStringLiteral("serialNo"), text(p.serialNo)},
        {QStringLiteral("packageName"), text(p.packageName)},
        {QStringLiteral("size"), text(p.size)},
        {QStringLiteral("sizeOverride"), text(p.sizeOverride)},
        {QStringLiteral("density"), number(p.density)},
        {QStringLiteral("densityOverride"), number(p.densityOverride)},
        {QStringLiteral("installed"), flag(p.installed)},
        {QStringLiteral("installFailure"), text(p.installFailure)},
        {QStringLiteral("appopsFailure"), flag(p.appopsFailure)},
        {QStringLiteral("delayMs"), number(p.delayMs)},
        {QStringLiteral("installDelayMs"), number(p.installDelayMs)},
        {QStringLiteral("unauthorized"), flag(p.unauthorized)},
        {QStringLiteral("legacy"), flag(p.legacy)},
        {QStringLiteral("properties"),
         Reader([&p](const QJsonValue &v) { return readProperties(v, p.extraProperties); })},
    };

    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto reader = readers.constFind(it.key());
        if (reader == readers.cend()) {
            load.error = QStringLiteral("unknown profile key \"%1\"").arg(it.key());
            return load;
        }
        if (!(*reader)(it.value())) {
            load.error = QStringLiteral("bad value for profile key \"%1\"").arg(it.key());
            return load;
        }
    }
    return load;
}
