#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// What the person asked for: always an address to connect to, and for a unit with Android 11's
// wireless debugging a pairing first. Both addresses are normalised HOST:PORT texts.
struct WifiRequest
{
    QString address;
    QString pairingAddress;     // empty: connect only
    QString pairingCode;

    [[nodiscard]] bool pairs() const { return !pairingAddress.isEmpty(); }
};

// Whether the carried adb can pair by code (adb 30 and newer). Learnt off the GUI thread
// while the dialog is already open, so it may change under the person's eyes.
enum class PairingSupport { Unknown, Available, Unavailable };

// Asks for a head unit's network address, or for the pairing address, code and connect
// address of wireless debugging. "Подключить" is enabled only while everything passes the
// rules, and a line under each address says why it does not; so a request, once accepted,
// always holds addresses adb may be given. Knows nothing of settings or adb: the caller
// fills in what was remembered and acts on forgetRequested and on the request.
class WifiDialog : public QDialog
{
    Q_OBJECT

public:
    explicit WifiDialog(QWidget *parent = nullptr);

    // The text the address field starts with, without offering to forget it.
    void setAddressText(const QString &text);
    // The address kept from an earlier connect: fills the field and offers "Забыть адрес".
    void setRememberedAddress(const QString &address);
    void setPairingSupport(PairingSupport support);

    // What the fields ask for now; nothing while any of them is refused.
    [[nodiscard]] std::optional<WifiRequest> request() const;

    void accept() override;

signals:
    // The person wants the remembered address gone; the field is already empty.
    void forgetRequested();

private:
    void pairingAddressEdited(const QString &text);
    void refresh();

    QLineEdit *m_address = nullptr;
    QLabel *m_addressReason = nullptr;
    QPushButton *m_forget = nullptr;
    QCheckBox *m_pairingWay = nullptr;
    QLabel *m_pairingUnavailable = nullptr;
    QWidget *m_plainFields = nullptr;
    QWidget *m_pairingFields = nullptr;
    QLineEdit *m_pairingAddress = nullptr;
    QLabel *m_pairingAddressReason = nullptr;
    QLineEdit *m_pairingCode = nullptr;
    QLineEdit *m_connectAddress = nullptr;
    QLabel *m_connectAddressReason = nullptr;
    QPushButton *m_connectButton = nullptr;
    PairingSupport m_pairingSupport = PairingSupport::Unknown;
    // Once the person types a connect address of their own, the pairing host no longer fills it.
    bool m_connectAddressTyped = false;
};
