#include "discovery/ManualAdd.h"

#include <QHostAddress>
#include <QTimer>
#include <QtEndian>

#include "base/AddressText.h"
#include "base/Notices.h"
#include "database/ElementRecords.h"
#include "database/ElementStore.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "services/AttachedNetworks.h"
#include "session/FeedbackProcessor.h"

namespace nms {

namespace {

const QChar CR(u'\r');
const QString kTitle = QStringLiteral("Manual add");

} // namespace

ManualAdd::ManualAdd(ElementStore& store, LinkEndpoint& link, AttachedNetworks& networks, Notices& notices,
                     const Timing& timing, QObject* parent)
    : QObject(parent), store_(store), link_(link), networks_(networks), notices_(notices), window_(new QTimer(this))
{
    window_->setInterval(timing.discoveryMs);
    window_->setSingleShot(true);
    window_->setTimerType(Qt::PreciseTimer);
    connect(window_, &QTimer::timeout, this, &ManualAdd::windowEnded);
}

bool ManualAdd::running() const
{
    return window_->isActive();
}

bool ManualAdd::start(const QString& address)
{
    if (running())
        return false;
    bool ok = false;
    const quint32 host = qFromBigEndian(Ipv4FromDottedText(address, &ok));
    if (!ok || host == 0 || host == 0xFFFFFFFFu || (host >> 28) == 0xE) {
        notices_.error(kTitle,
                       QStringLiteral("'%1' is not the address of a Network Element.").arg(address) + CR
                           + QStringLiteral("Please type its IP address, for example 192.168.1.20."));
        return false;
    }
    // The element's MAC names its section, and the console learns it only on a network it shares.
    const QString text = QHostAddress(host).toString();
    if (!networks_.attached(host)) {
        notices_.error(kTitle,
                       QStringLiteral("%1 is not on a network this computer is attached to,").arg(text) + CR
                           + QStringLiteral("so its MAC address cannot be learnt. Nothing was sent."));
        return false;
    }
    QString failure;
    if (!link_.sendTo(PagingRequest(), QHostAddress(host), link_.ports().paging, 0, &failure)) {
        notices_.error(kTitle,
                       QStringLiteral("The paging request to %1 port %2 could not be sent: %3.")
                           .arg(text)
                           .arg(link_.ports().paging)
                           .arg(failure));
        return false;
    }
    address_ = text;
    window_->start();
    return true;
}

bool ManualAdd::collect(const ElementFeedback& feedback)
{
    if (!running() || feedback.ElementIP != address_)
        return false;
    window_->stop();
    const QString key = MacTextToKey(feedback.ElementMAC);
    if (!store_.replace(key, DiscoveryEntries(feedback))) {
        notices_.error(QStringLiteral("Error!"),
                       QStringLiteral("The local database (%1) could not be written.").arg(store_.path()) + CR
                           + QStringLiteral("The element's answer was not saved."));
        return true;
    }
    Q_EMIT added(key);
    return true;
}

void ManualAdd::windowEnded()
{
    notices_.error(kTitle,
                   QStringLiteral("No Network Element answered at %1.").arg(address_) + CR
                       + QStringLiteral("The local database was not changed."));
    Q_EMIT unanswered();
}

void ManualAdd::abort()
{
    window_->stop();
}

} // namespace nms
