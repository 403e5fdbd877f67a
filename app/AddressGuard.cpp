#include "app/AddressGuard.h"

#include <QTimer>

#include "base/AddressText.h"
#include "services/EchoSweep.h"
#include "services/MacLookup.h"
#include "services/NeighbourTable.h"
#include "session/ConfigChecks.h"

namespace nms {

AddressGuard::AddressGuard(EchoSweep& echo, NeighbourTable& neighbours, int waitMs, QObject* parent)
    : QObject(parent), echo_(echo), neighbours_(neighbours), wait_(new QTimer(this))
{
    wait_->setSingleShot(true);
    wait_->setInterval(waitMs);
    connect(wait_, &QTimer::timeout, this, &AddressGuard::done);
    connect(&echo_, &EchoSweep::replied, this, [this](quint32 address) {
        if (wait_->isActive() && address == asked_)
            answered_ = true;
    });
}

bool AddressGuard::running() const
{
    return wait_->isActive();
}

std::optional<QStringList> AddressGuard::check(const ConfigFields& fields, const ElementRecord& shown, bool encoder,
                                               const QList<ElementRecord>& stored)
{
    findings_ = AddressFindings(fields, shown, encoder, stored);
    answered_ = false;
    asked_ = 0;
    bool ok = false, shownOk = false;
    const quint32 address = Ipv4FromDottedText(fields.ip, &ok);
    const quint32 before = Ipv4FromDottedText(shown.ip, &shownOk);
    bool known = false;
    for (const ElementRecord& other : stored) {
        bool otherOk = false;
        known = known || (other.key != shown.key && Ipv4FromDottedText(other.ip, &otherOk) == address && otherOk);
    }
    // Only a new address is asked about: the element answers at its own, and one stored for
    // another element is a finding already.
    if (ok && address != 0 && !(shownOk && before == address) && !known) {
        asked_ = address;
        // What the table holds before the question may be a unit unplugged since (the spare that
        // replaces it is about to take its address): only an entry the question made counts.
        cached_ = neighbours_.lookup(address);
        neighbours_.solicit(address);
        echo_.send(address);
        wait_->start();
        return std::nullopt;
    }
    return findings_;
}

void AddressGuard::done()
{
    wait_->stop();
    if (asked_ != 0) {
        const QByteArray mac = neighbours_.lookup(asked_);
        const QString address = AddressBytesToText(reinterpret_cast<const quint8*>(&asked_));
        if (answered_ || (!mac.isEmpty() && mac != cached_)) {
            findings_.append(mac.isEmpty() ? QStringLiteral("%1 already answers on the network.").arg(address)
                                           : QStringLiteral("%1 already answers on the network (MAC %2).")
                                                 .arg(address, MacLookup::FormatMac(mac, QStringLiteral(":"))));
        }
    }
    asked_ = 0;
    Q_EMIT finished(findings_);
}

} // namespace nms
