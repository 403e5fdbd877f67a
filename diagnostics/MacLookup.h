#pragma once
// An element's hardware address from the IPv4 address it reports, through the kernel's neighbour
// table, and the five-second window within which feedback processing retries the lookup.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

class QTimer;

namespace nms {

class FrmMain;

class MacLookup : public QObject {
    Q_OBJECT
public:
    explicit MacLookup(FrmMain& window);

    // True when a hardware address was found; macText then holds it (possibly empty when the
    // table answered with an address of another length than six bytes). False leaves macText.
    // An address the table does not hold yet is handed to the kernel to resolve, then looked up
    // once more; a later call finds it when the kernel has resolved it.
    bool LookupMac(const QString& ipText, QString& macText, const QString& separator);

    // The 32-bit address in network order, as inet_addr reads it: 0xFFFFFFFF for malformed text.
    static quint32 IpTextToAddress(const QString& ipText);
    // Six bytes as upper-case hexadecimal pairs joined by the separator; any other size gives "".
    static QString FormatMac(const QByteArray& bytes, const QString& separator);

    // The retry window: starts timerGetMAC and looks the address up until a lookup succeeds or the
    // timer has run out, without blocking the window. `done` is called exactly once, with the MAC
    // text (":" separated) or "" when none was found. A new window ends one still running (as a
    // failure) first.
    void FindMac(const QString& ipText, std::function<void(const QString& macText)> done);
    bool searching() const { return static_cast<bool>(done_); }

    void timerGetMAC_Timer();

    // Pause between two lookups of one window.
    static constexpr int RetryIntervalMs = 20;
    // A kernel resolution that has not answered by then is asked for again.
    static constexpr int SolicitAgainMs = 1000;

private:
    void retry();
    void end(const QString& macText);

    FrmMain& w;
    QTimer* retry_;
    QString ipText_;
    std::function<void(const QString&)> done_;
    quint32 solicited_ = 0;
    QElapsedTimer sinceSolicit_;
};

} // namespace nms
