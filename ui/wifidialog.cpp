#include "wifidialog.h"

#include "networkunit.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

std::optional<QString> askNetworkAddress(QWidget *parent, const QString &prefilled)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("wifiDialog"));
    dialog.setWindowTitle(QStringLiteral("Подключение по Wi-Fi"));
    dialog.setWindowModality(Qt::ApplicationModal);

    auto *text = new QLabel(QStringLiteral("Введите IP-адрес мультимедийной системы. На автомобиле должна быть "
                                           "включена отладка по сети (ADB по сети), а компьютер — в той же "
                                           "сети Wi-Fi."),
                            &dialog);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setMinimumWidth(380);

    auto *address = new QLineEdit(prefilled, &dialog);
    address->setObjectName(QStringLiteral("wifiAddress"));
    address->setAccessibleName(QStringLiteral("IP-адрес автомобиля"));
    address->setPlaceholderText(QStringLiteral("192.168.1.50:5555"));
    text->setBuddy(address);

    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *connectButton = buttons->addButton(QStringLiteral("Подключить"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connectButton->setDefault(true);
    const auto check = [=] { connectButton->setEnabled(adb::normalisedAddress(address->text()).has_value()); };
    QObject::connect(address, &QLineEdit::textChanged, &dialog, check);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    check();

    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(address);
    layout->addWidget(buttons);

    // Return with an address the rule refused can't happen, as the button is off then;
    // the rule is asked once more all the same.
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return adb::normalisedAddress(address->text());
}
