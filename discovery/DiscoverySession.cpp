#include "discovery/DiscoverySession.h"

#include <QTimer>

#include "base/Notices.h"
#include "base/Trace.h"
#include "database/ElementRecords.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "services/AttachedNetworks.h"
#include "session/ConsoleState.h"
#include "session/FeedbackProcessor.h"

namespace nms {

namespace {

const QChar CR(u'\r');

} // namespace

DiscoverySession::DiscoverySession(ConsoleState& state, ElementStore& store, LinkEndpoint& link,
                                   AttachedNetworks& networks, Notices& notices, const Timing& timing,
                                   const QHostAddress& pagingAddress, QObject* parent)
    : QObject(parent),
      state_(state),
      store_(store),
      link_(link),
      networks_(networks),
      notices_(notices),
      pagingAddress_(pagingAddress),
      Timer1_(new QTimer(this)),
      batchTimer_(new QTimer(this))
{
    Timer1_->setInterval(timing.discoveryMs);
    Timer1_->setSingleShot(true);
    // The window's length is a promise: no early coarse expiry.
    Timer1_->setTimerType(Qt::PreciseTimer);
    connect(Timer1_, &QTimer::timeout, this, &DiscoverySession::Timer1_Timer);
    batchTimer_->setInterval(timing.discoveryBatchMs);
    batchTimer_->setSingleShot(true);
    connect(batchTimer_, &QTimer::timeout, this, &DiscoverySession::flush);
}

bool DiscoverySession::running() const
{
    return Timer1_->isActive();
}

bool DiscoverySession::start()
{
    if (running())
        return false;
    paged_ = recorded_ = written_ = 0;
    batch_.clear();

    ElementStore::Snapshot previous;
    QString error;
    if (!store_.recreateEmpty(&previous, &error)) {
        notices_.error(QStringLiteral("Auto Discovery"),
                       QStringLiteral("The local database (%1) could not be emptied: %2.").arg(store_.path(), error)
                           + CR + QStringLiteral("The network was not paged."));
        return false;
    }

    Timer1_->start();
    state_.setDiscovering(true);
    const QList<AttachedNetwork> networks = networks_.pagingNetworks();
    QStringList failures;
    for (const AttachedNetwork& network : networks) {
        // The limited broadcast out of this very interface: no route needed, and an element set up
        // for another subnet on the same wire hears it too.
        QString failure;
        if (link_.sendTo(PagingRequest(), pagingAddress_, link_.ports().paging, network.interfaceIndex, &failure))
            ++paged_;
        else
            failures.append(QStringLiteral("%1: %2").arg(network.interfaceName, failure));
    }
    qCDebug(traceDiscovery) << "paged" << paged_ << "of" << networks.size() << "networks" << failures;
    if (paged_ > 0) {
        Q_EMIT started();
        return true;
    }

    // Nothing asked, so nothing may be given up: the old database comes back as it was.
    Timer1_->stop();
    state_.setDiscovering(false);
    QString restoreError;
    const bool restored = store_.restore(previous, &restoreError);
    const QString why = networks.isEmpty() ? QStringLiteral("this computer has no network that is up and can broadcast")
                                           : failures.join(QStringLiteral("; "));
    notices_.error(QStringLiteral("Auto Discovery"),
                   QStringLiteral("The paging request to %1 port %2 could not be sent: %3.")
                           .arg(pagingAddress_.toString())
                           .arg(link_.ports().paging)
                           .arg(why)
                       + CR
                       + (restored ? QStringLiteral("No element was asked to answer; the local database was kept.")
                                   : QStringLiteral("No element was asked to answer, and the local database (%1) "
                                                    "could not be put back: %2.")
                                         .arg(store_.path(), restoreError)));
    return false;
}

bool DiscoverySession::collect(const ElementFeedback& feedback)
{
    if (!running())
        return false;
    batch_.append({MacTextToKey(feedback.ElementMAC), DiscoveryEntries(feedback)});
    ++recorded_;
    if (!batchTimer_->isActive())
        batchTimer_->start();
    return true;
}

void DiscoverySession::flush()
{
    batchTimer_->stop();
    if (batch_.isEmpty())
        return;
    const QList<ProfileFile::SectionEntries> sections = std::exchange(batch_, {});
    if (store_.writeMany(sections)) {
        written_ += int(sections.size());
        Q_EMIT batchWritten(int(sections.size()));
        return;
    }
    notices_.error(QStringLiteral("Error!"),
                   QStringLiteral("The local database (%1) could not be written.").arg(store_.path()) + CR
                       + QStringLiteral("%1 element answers were not saved.").arg(sections.size()));
}

void DiscoverySession::Timer1_Timer()
{
    end();
    Q_EMIT finished();
}

void DiscoverySession::abort()
{
    if (running())
        end();
}

void DiscoverySession::end()
{
    Timer1_->stop();
    flush();
    state_.setDiscovering(false);
    qCDebug(traceDiscovery) << "window over:" << recorded_ << "answers recorded," << written_ << "written";
}

} // namespace nms
