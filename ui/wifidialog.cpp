#include "wifidialog.h"

#include "installerwindow.h"
#include "networkunit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

// The width the texts are wrapped to; the dialog grows in height only.
constexpr int textWidth = 400;

// The window's own greys: the ground, the main text, and secondary text.
const QColor ground = QColor::fromRgbF(0.96f, 0.96f, 0.96f);
const QColor mainText = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
const QColor secondaryText(0x80, 0x80, 0x80);
// A refusal must be seen next to the field it is about, on the light ground.
const QColor refusalText(0xb3, 0x26, 0x1e);
const QColor linkText = QColor::fromRgbF(0.04f, 0.43f, 1.0f);

QLabel *makeText(QWidget *parent, const char *name, const QString &text, const QColor &colour)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setMinimumWidth(textWidth);
    setTextColour(label, colour);
    return label;
}

QLineEdit *makeField(QWidget *parent, const char *name, const QString &accessibleName, QLabel *caption)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setAccessibleName(accessibleName);
    if (caption)
        caption->setBuddy(field);
    return field;
}

// Shows `reason` under its field, or nothing: an empty line would leave a gap. A screen
// reader hears it with the field.
void showReason(QLineEdit *field, QLabel *label, const QString &reason)
{
    label->setText(reason);
    label->setAccessibleName(reason);
    label->setVisible(!reason.isEmpty());
    field->setAccessibleDescription(reason);
}

// The host part of what is typed as HOST:PORT, as typed so far.
QString hostOf(const QString &text)
{
    const QString typed = text.trimmed();
    const qsizetype colon = typed.lastIndexOf(u':');
    return colon > typed.lastIndexOf(u']') ? typed.left(colon) : typed;
}

} // namespace

WifiDialog::WifiDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("wifiDialog"));
    setWindowTitle(QStringLiteral("Подключение по Wi-Fi"));
    setWindowModality(Qt::ApplicationModal);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ground);
    setPalette(palette);

    QLabel *intro = makeText(this, "wifiIntro",
                             QStringLiteral("Введите IP-адрес мультимедийной системы. На автомобиле должна быть "
                                            "включена отладка по сети (ADB по сети), а компьютер — в той же "
                                            "сети Wi-Fi."),
                             mainText);

    m_plainFields = new QWidget(this);
    m_plainFields->setObjectName(QStringLiteral("plainFields"));
    m_address = makeField(m_plainFields, "wifiAddress", QStringLiteral("IP-адрес автомобиля"), intro);
    m_address->setPlaceholderText(QStringLiteral("192.168.1.50:5555"));
    m_addressReason = makeText(m_plainFields, "wifiAddressReason", QString(), refusalText);
    // A link rather than a button, as the window's own Wi-Fi link: it is seldom wanted.
    m_forget = new QPushButton(QStringLiteral("Забыть адрес"), m_plainFields);
    m_forget->setObjectName(QStringLiteral("forgetAddress"));
    m_forget->setAccessibleName(m_forget->text());
    m_forget->setFlat(true);
    m_forget->setAutoDefault(false);
    m_forget->setCursor(Qt::PointingHandCursor);
    m_forget->setStyleSheet(QStringLiteral("QPushButton { color: %1; text-align: left; border: none; background: transparent;"
                                           " padding: 0; }"
                                           "QPushButton:hover, QPushButton:focus { text-decoration: underline; }")
                                .arg(linkText.name()));
    m_forget->hide();
    auto *plainLayout = new QVBoxLayout(m_plainFields);
    plainLayout->setContentsMargins(0, 0, 0, 0);
    plainLayout->addWidget(m_address);
    plainLayout->addWidget(m_addressReason);
    plainLayout->addWidget(m_forget, 0, Qt::AlignLeft);

    m_pairingWay = new QCheckBox(QStringLiteral("Сопряжение по коду (Android 11 и новее)"), this);
    m_pairingWay->setObjectName(QStringLiteral("pairingWay"));
    m_pairingWay->setAccessibleName(m_pairingWay->text());
    m_pairingUnavailable = makeText(this, "pairingUnavailable",
                                    QStringLiteral("Для сопряжения по коду нужен adb 30 или новее.\n"
                                                   "В Debian 12 установите пакет adb из bookworm-backports (в Debian 13 "
                                                   "подходящий уже есть) и перезапустите установщик."),
                                    secondaryText);

    m_pairingFields = new QWidget(this);
    m_pairingFields->setObjectName(QStringLiteral("pairingFields"));
    auto *pairingLayout = new QVBoxLayout(m_pairingFields);
    pairingLayout->setContentsMargins(0, 0, 0, 0);
    const auto addCaption = [&](const char *name, const QString &text) {
        QLabel *caption = makeText(m_pairingFields, name, text, mainText);
        pairingLayout->addWidget(caption);
        return caption;
    };
    const QString pairingName = QStringLiteral("Адрес и порт для сопряжения");
    m_pairingAddress = makeField(m_pairingFields, "pairingAddress", pairingName, addCaption("pairingAddressCaption", pairingName));
    m_pairingAddress->setPlaceholderText(QStringLiteral("например 192.168.1.50:37123"));
    pairingLayout->addWidget(m_pairingAddress);
    m_pairingAddressReason = makeText(m_pairingFields, "pairingAddressReason", QString(), refusalText);
    pairingLayout->addWidget(m_pairingAddressReason);
    const QString codeName = QStringLiteral("Код сопряжения");
    m_pairingCode = makeField(m_pairingFields, "pairingCode", codeName, addCaption("pairingCodeCaption", codeName));
    m_pairingCode->setMaxLength(6);
    m_pairingCode->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), m_pairingCode));
    m_pairingCode->setInputMethodHints(Qt::ImhDigitsOnly);
    pairingLayout->addWidget(m_pairingCode);
    const QString connectName = QStringLiteral("Адрес и порт для подключения");
    m_connectAddress = makeField(m_pairingFields, "connectAddress", connectName, addCaption("connectAddressCaption", connectName));
    pairingLayout->addWidget(m_connectAddress);
    m_connectAddressReason = makeText(m_pairingFields, "connectAddressReason", QString(), refusalText);
    pairingLayout->addWidget(m_connectAddressReason);

    auto *buttons = new QDialogButtonBox(this);
    m_connectButton = buttons->addButton(QStringLiteral("Подключить"), QDialogButtonBox::AcceptRole);
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    m_connectButton->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("cancelButton"));

    connect(m_address, &QLineEdit::textChanged, this, &WifiDialog::refresh);
    connect(m_pairingAddress, &QLineEdit::textEdited, this, &WifiDialog::pairingAddressEdited);
    connect(m_pairingAddress, &QLineEdit::textChanged, this, &WifiDialog::refresh);
    connect(m_pairingCode, &QLineEdit::textChanged, this, &WifiDialog::refresh);
    connect(m_connectAddress, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_connectAddressTyped = !text.isEmpty(); });
    connect(m_connectAddress, &QLineEdit::textChanged, this, &WifiDialog::refresh);
    connect(m_pairingWay, &QCheckBox::toggled, this, [this](bool pairing) {
        refresh();
        (pairing ? m_pairingAddress : m_address)->setFocus();
    });
    connect(m_forget, &QPushButton::clicked, this, [this] {
        m_forget->hide();
        m_address->clear();
        m_address->setFocus();
        emit forgetRequested();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &WifiDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &WifiDialog::reject);

    auto *layout = new QVBoxLayout(this);
    // The dialog follows its content as fields and reasons come and go.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(intro);
    layout->addWidget(m_plainFields);
    layout->addWidget(m_pairingWay);
    layout->addWidget(m_pairingUnavailable);
    layout->addWidget(m_pairingFields);
    layout->addWidget(buttons);
    refresh();
}

void WifiDialog::setAddressText(const QString &text)
{
    m_address->setText(text);
}

void WifiDialog::setRememberedAddress(const QString &address)
{
    m_address->setText(address);
    m_forget->setVisible(!address.isEmpty());
}

void WifiDialog::setPairingSupport(PairingSupport support)
{
    m_pairingSupport = support;
    if (support != PairingSupport::Available)
        m_pairingWay->setChecked(false);
    refresh();
}

std::optional<WifiRequest> WifiDialog::request() const
{
    if (!m_pairingWay->isChecked()) {
        const std::optional<QString> address = adb::normalisedAddress(m_address->text());
        return address ? std::optional(WifiRequest{*address, {}, {}}) : std::nullopt;
    }
    const std::optional<QString> pairing = adb::normalisedAddress(m_pairingAddress->text(), adb::PortRule::Required);
    const std::optional<QString> address = adb::normalisedAddress(m_connectAddress->text(), adb::PortRule::Required);
    if (!pairing || !address || !adb::isPairingCode(m_pairingCode->text()))
        return std::nullopt;
    return WifiRequest{*address, *pairing, m_pairingCode->text()};
}

void WifiDialog::accept()
{
    // Return with a refused text can't get here while the button is off; asked once more all the same.
    if (request())
        QDialog::accept();
}

void WifiDialog::pairingAddressEdited(const QString &text)
{
    if (m_connectAddressTyped)
        return;
    const QString host = hostOf(text);
    m_connectAddress->setText(host.isEmpty() ? QString() : host + u':');
}

void WifiDialog::refresh()
{
    const bool pairing = m_pairingWay->isChecked();
    m_pairingWay->setEnabled(m_pairingSupport == PairingSupport::Available);
    m_pairingUnavailable->setVisible(m_pairingSupport == PairingSupport::Unavailable);
    m_plainFields->setVisible(!pairing);
    m_pairingFields->setVisible(pairing);
    showReason(m_address, m_addressReason, adb::addressRefusal(m_address->text()));
    showReason(m_pairingAddress, m_pairingAddressReason, adb::addressRefusal(m_pairingAddress->text(), adb::PortRule::Required));
    showReason(m_connectAddress, m_connectAddressReason, adb::addressRefusal(m_connectAddress->text(), adb::PortRule::Required));
    m_connectButton->setEnabled(request().has_value());
}

