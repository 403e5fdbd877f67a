#pragma once
// An element's hardware address from the IPv4 address it reports, through the kernel's neighbour
// table, and the window within which it is looked for. Every request has a window of its own;
// windows run side by side, and one read of the table serves them all, so a thousand answers
// that arrive together are resolved together rather than in turn.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>

#include "base/Timing.h"

class QTimer;

namespace nms {

class NeighbourTable;

class MacLookup : public QObject {
    Q_OBJECT
public:
    MacLookup(NeighbourTable& table, const Timing& timing, QObject* parent = nullptr);

    // True when a hardware address was found; macText then holds it (possibly empty when the
    // table answered with an address of another length than six bytes). False leaves macText.
    // An address the table does not hold is handed to the kernel to resolve (at most once per
    // solicit period), so a later call can find it.
    bool LookupMac(const QString& ipText, QString& macText, const QString& separator);

    // The 32-bit address in network order, as inet_addr reads it: 0xFFFFFFFF for malformed text.
    static quint32 IpTextToAddress(const QString& ipText);
    // Six bytes as upper-case hexadecimal pairs joined by the separator; any other size gives "".
    static QString FormatMac(const QByteArray& bytes, const QString& separator);

    // Opens a window for the address: `done` is called exactly once, from the event loop (never
    // from inside this call), with the ":"-separated MAC text, or "" when the window ran out.
    // Nothing is called once `context` is gone.
    using Done = std::function<void(const QString& macText)>;
    void FindMac(const QString& ipText, QObject* context, Done done);
    int pending() const { return int(windows_.size()); }
    // Closes every window without an answer (shutdown).
    void cancelAll();

private:
    struct Window {
        QString ipText;
        quint32 address = 0;
        QDeadlineTimer deadline;
        QPointer<QObject> context;
        Done done;
    };
    // One look at the table for every open window; ends the found and the expired ones.
    void resolvePending();
    void schedule();
    bool solicitDue(quint32 address);

    NeighbourTable& table_;
    Timing timing_;
    std::map<quint64, Window> windows_;
    quint64 nextId_ = 1;
    // timerGetMAC: the next look at the table, at once for new windows, then every retry period
    // while windows are open, or when the earliest window runs out.
    QTimer* timerGetMAC_;
    QHash<quint32, QDeadlineTimer> solicited_;
};

} // namespace nms
