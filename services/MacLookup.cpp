#include "services/MacLookup.h"

#include <QTimer>

#include "base/AddressText.h"
#include "services/NeighbourTable.h"

namespace nms {

MacLookup::MacLookup(NeighbourTable& table, const Timing& timing, QObject* parent)
    : QObject(parent), table_(table), timing_(timing), timerGetMAC_(new QTimer(this))
{
    timerGetMAC_->setSingleShot(true);
    // A window's length is a promise, not a hint: no early coarse expiry.
    timerGetMAC_->setTimerType(Qt::PreciseTimer);
    connect(timerGetMAC_, &QTimer::timeout, this, &MacLookup::resolvePending);
}

quint32 MacLookup::IpTextToAddress(const QString& ipText)
{
    bool ok = false;
    return Ipv4FromDottedText(ipText, &ok);
}

QString MacLookup::FormatMac(const QByteArray& bytes, const QString& separator)
{
    if (bytes.size() != 6)
        return QString();
    QString text;
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += separator;
        text += QStringLiteral("%1").arg(quint8(bytes.at(i)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

namespace {

// What the table answered is a hardware address: bytes, not all of them zero.
bool Found(const QByteArray& bytes)
{
    return !bytes.isEmpty() && bytes.count('\0') != bytes.size();
}

} // namespace

bool MacLookup::solicitDue(quint32 address)
{
    // The kernel learns an element's address only from its ARP traffic; one that moved, or that
    // answered without asking, has to be resolved. Once per period is enough: the kernel keeps
    // trying by itself meanwhile.
    const auto it = solicited_.constFind(address);
    if (it != solicited_.cend() && !it->hasExpired())
        return false;
    solicited_.insert(address, QDeadlineTimer(timing_.solicitAgainMs, Qt::PreciseTimer));
    return true;
}

bool MacLookup::LookupMac(const QString& ipText, QString& macText, const QString& separator)
{
    const quint32 address = IpTextToAddress(ipText);
    if (address == 0)
        return false;
    QByteArray bytes = table_.lookup(address);
    if (bytes.isEmpty() && solicitDue(address)) {
        table_.solicit(address);
        bytes = table_.lookup(address);
    }
    if (!Found(bytes))
        return false;
    macText = FormatMac(bytes, separator);
    return true;
}

void MacLookup::FindMac(const QString& ipText, QObject* context, Done done)
{
    Window window;
    window.ipText = ipText;
    window.address = IpTextToAddress(ipText);
    window.deadline = QDeadlineTimer(timing_.macWindowMs, Qt::PreciseTimer);
    window.context = context;
    window.done = std::move(done);
    windows_.emplace(nextId_++, std::move(window));
    // The first look comes as soon as the event loop is back, for every window opened meanwhile.
    timerGetMAC_->start(0);
}

void MacLookup::resolvePending()
{
    QList<quint32> wanted;
    wanted.reserve(qsizetype(windows_.size()));
    for (const auto& [id, window] : windows_) {
        // 0.0.0.0 never resolves (its window runs out); malformed text is looked up as is.
        if (window.address != 0)
            wanted.append(window.address);
    }
    QHash<quint32, QByteArray> found = table_.lookupMany(wanted);

    // Addresses still unknown are handed to the kernel together, then read once more.
    QList<quint32> asked;
    for (quint32 address : std::as_const(wanted)) {
        if (found.value(address).isEmpty() && !asked.contains(address) && solicitDue(address)) {
            table_.solicit(address);
            asked.append(address);
        }
    }
    if (!asked.isEmpty()) {
        const QHash<quint32, QByteArray> again = table_.lookupMany(asked);
        for (auto it = again.cbegin(); it != again.cend(); ++it)
            found.insert(it.key(), it.value());
    }

    // Ends are collected first: a done() may open new windows.
    QList<std::pair<Window, QString>> ended;
    for (auto it = windows_.begin(); it != windows_.end();) {
        const QByteArray bytes = it->second.address != 0 ? found.value(it->second.address) : QByteArray();
        const bool hit = Found(bytes);
        if (hit || it->second.deadline.hasExpired()) {
            ended.append({std::move(it->second), hit ? FormatMac(bytes, QStringLiteral(":")) : QString()});
            it = windows_.erase(it);
        } else {
            ++it;
        }
    }
    schedule();
    for (auto& [window, macText] : ended) {
        if (window.context)
            window.done(macText);
    }
}

void MacLookup::schedule()
{
    if (windows_.empty()) {
        timerGetMAC_->stop();
        return;
    }
    qint64 next = timing_.macRetryMs;
    for (const auto& [id, window] : windows_)
        next = std::min(next, window.deadline.remainingTime());
    timerGetMAC_->start(int(std::max<qint64>(next, 0)));
}

void MacLookup::cancelAll()
{
    windows_.clear();
    timerGetMAC_->stop();
}

} // namespace nms
