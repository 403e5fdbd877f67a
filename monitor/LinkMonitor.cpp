#include "monitor/LinkMonitor.h"

#include <QDateTime>
#include <QTimer>
#include <QtEndian>

#include <cmath>

#include "base/AddressText.h"
#include "link/Datagrams.h"
#include "link/Feedback.h"
#include "link/LinkEndpoint.h"
#include "services/EchoSweep.h"

namespace nms {

namespace {

// How long an echo answer may take; a shorter presence period (tests) shortens it too.
constexpr int kEchoWaitMs = 1000;
// The longest step between two sends: requests due meanwhile go out together.
constexpr int kTickMs = 50;

QJsonValue RoundedMs(double value)
{
    return std::round(value * 100.0) / 100.0;
}

QJsonValue Dbfs(double value)
{
    // Digital silence has no decibel figure: minus infinity is no JSON number.
    return std::isfinite(value) ? QJsonValue(std::round(value * 10.0) / 10.0) : QJsonValue();
}

} // namespace

QString StateText(ElementState state)
{
    switch (state) {
    case ElementState::Unknown: return QStringLiteral("Unknown");
    case ElementState::Up: return QStringLiteral("Up");
    case ElementState::Down: return QStringLiteral("Down");
    case ElementState::Silent: return QStringLiteral("Silent");
    }
    return QString();
}

QString SummaryText(const MonitorSummary& summary)
{
    QStringList parts;
    if (summary.up > 0)
        parts.append(QStringLiteral("%1 up").arg(summary.up));
    if (summary.down > 0)
        parts.append(QStringLiteral("%1 down").arg(summary.down));
    if (summary.silent > 0)
        parts.append(QStringLiteral("%1 silent").arg(summary.silent));
    if (summary.unknown > 0)
        parts.append(QStringLiteral("%1 unknown").arg(summary.unknown));
    QString text = summary.total == 1 ? QStringLiteral("1 element") : QStringLiteral("%1 elements").arg(summary.total);
    if (!parts.isEmpty())
        text += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    return text;
}

LinkMonitor::LinkMonitor(EchoSweep& echo, LinkEndpoint& link, const MonitorSettings& settings, QObject* parent)
    : QObject(parent),
      echo_(echo),
      link_(link),
      settings_(settings),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }),
      tickTimer_(new QTimer(this))
{
    qRegisterMetaType<nms::ElementState>();
    steady_.start();
    tickTimer_->setTimerType(Qt::PreciseTimer);
    connect(tickTimer_, &QTimer::timeout, this, &LinkMonitor::tick);
    connect(&echo_, &EchoSweep::replied, this, &LinkMonitor::answered);
}

void LinkMonitor::watch(const QList<ElementRecord>& records)
{
    QList<WatchedElement> watched;
    watched.reserve(records.size());
    const qint64 at = now();
    for (const ElementRecord& record : records) {
        bool ok = false;
        quint32 address = Ipv4FromDottedText(record.ip, &ok);
        if (!ok || address == 0xFFFFFFFFu)
            address = 0;
        const int before = byKey_.value(record.key, -1);
        WatchedElement element;
        if (before >= 0 && elements_.at(before).address == address) {
            element = elements_.at(before);
        } else {
            element.address = address;
            element.sinceMs = at;
        }
        element.record = record;
        element.encoder = record.role.toInt() == RoleEncoder;
        watched.append(element);
    }
    elements_ = std::move(watched);
    byKey_.clear();
    byAddress_.clear();
    encoders_.clear();
    for (int i = 0; i < elements_.size(); ++i) {
        byKey_.insert(elements_.at(i).record.key, i);
        if (elements_.at(i).address != 0)
            byAddress_.insert(elements_.at(i).address, i);
        if (elements_.at(i).encoder)
            encoders_.append(i);
    }
    // Answers still awaited refer to the old rows.
    sent_.clear();
    for (WatchedElement& element : elements_)
        element.awaiting = false;
    nextProbe_ = nextQuery_ = 0;
    schedule();
    Q_EMIT elementsReset();
}

void LinkMonitor::schedule()
{
    if (!running_)
        return;
    // Every element once per period, spread evenly over it: the sends due are counted from here.
    startedMs_ = steadyMs();
    probesSent_ = queriesSent_ = 0;
    int step = qMin(kTickMs, settings_.presencePeriodMs / 2);
    if (settings_.watchAudio)
        step = qMin(step, settings_.audioPeriodMs / 2);
    if (elements_.isEmpty())
        tickTimer_->stop();
    else
        tickTimer_->start(qMax(1, step));
}

void LinkMonitor::setSettings(const MonitorSettings& settings)
{
    settings_ = settings;
    schedule();
}

void LinkMonitor::start()
{
    running_ = true;
    schedule();
}

void LinkMonitor::stop()
{
    running_ = false;
    tickTimer_->stop();
    sent_.clear();
    echo_.close();
}

MonitorSummary LinkMonitor::summary() const
{
    MonitorSummary summary;
    summary.total = int(elements_.size());
    for (const WatchedElement& element : elements_) {
        switch (element.state) {
        case ElementState::Up: ++summary.up; break;
        case ElementState::Down: ++summary.down; break;
        case ElementState::Silent: ++summary.silent; break;
        case ElementState::Unknown: ++summary.unknown; break;
        }
    }
    return summary;
}

void LinkMonitor::tick()
{
    const qint64 elapsed = steadyMs() - startedMs_;
    const qint64 count = elements_.size();
    const qint64 encoders = settings_.watchAudio ? encoders_.size() : 0;
    // A stalled event loop does not make up for lost time with a burst: at most one round.
    qint64 probesDue = elapsed * count / qMax(1, settings_.presencePeriodMs);
    probesSent_ = qMax(probesSent_, probesDue - count);
    while (probesSent_ < probesDue) {
        probeNext();
        ++probesSent_;
    }
    qint64 queriesDue = elapsed * encoders / qMax(1, settings_.audioPeriodMs);
    queriesSent_ = qMax(queriesSent_, queriesDue - encoders);
    while (queriesSent_ < queriesDue) {
        queryNext();
        ++queriesSent_;
    }
    expire();
    Q_EMIT ticked();
}

void LinkMonitor::probeNext()
{
    if (elements_.isEmpty())
        return;
    if (nextProbe_ >= elements_.size())
        nextProbe_ = 0;
    const int index = nextProbe_++;
    if (elements_.at(index).address == 0)
        return;
    // The request before this one was never answered, and its time is up.
    if (elements_.at(index).awaiting)
        miss(index);
    WatchedElement& element = elements_[index];
    element.awaiting = true;
    element.probe = ++probes_;
    const int wait = qMin(kEchoWaitMs, settings_.presencePeriodMs);
    sent_.push_back({index, element.probe, steadyMs() + wait});
    echo_.send(element.address);
}

void LinkMonitor::expire()
{
    const qint64 at = steadyMs();
    while (!sent_.empty() && sent_.front().deadline <= at) {
        const Sent sent = sent_.front();
        sent_.pop_front();
        if (sent.index < elements_.size() && elements_.at(sent.index).awaiting
            && elements_.at(sent.index).probe == sent.probe)
            miss(sent.index);
    }
}

void LinkMonitor::miss(int index)
{
    WatchedElement& element = elements_[index];
    element.awaiting = false;
    ++element.misses;
    Q_EMIT echoLost(index);
    if (element.misses >= settings_.missesForDown && !element.presenceDown) {
        element.presenceDown = true;
        element.presenceUp = false;
        // An element that is down is not silent: it is down.
        element.silent = false;
        element.belowSinceMs = element.aboveSinceMs = -1;
        Q_EMIT event(QStringLiteral("element-down"), element.record, {{QStringLiteral("misses"), element.misses}});
    }
    judge(index);
}

void LinkMonitor::answered(quint32 address, double roundTripMs)
{
    const qint64 at = now();
    for (auto it = byAddress_.constFind(address); it != byAddress_.cend() && it.key() == address; ++it) {
        WatchedElement& element = elements_[it.value()];
        element.awaiting = false;
        element.misses = 0;
        element.roundTripMs = roundTripMs;
        element.lastSeenMs = at;
        if (element.presenceDown)
            Q_EMIT event(QStringLiteral("element-up"), element.record,
                         {{QStringLiteral("rtt_ms"), RoundedMs(roundTripMs)}});
        element.presenceDown = false;
        element.presenceUp = true;
        Q_EMIT echoAnswered(it.value(), roundTripMs);
        judge(it.value());
    }
}

void LinkMonitor::queryNext()
{
    if (encoders_.isEmpty())
        return;
    if (nextQuery_ >= encoders_.size())
        nextQuery_ = 0;
    const WatchedElement& element = elements_.at(encoders_.at(nextQuery_++));
    if (element.address == 0 || element.presenceDown)
        return;
    QString failure;
    link_.sendTo(LevelQuery(), QHostAddress(qFromBigEndian(element.address)), link_.ports().command, 0, &failure);
}

void LinkMonitor::takeLevelSamples(const QByteArray& datagram, const QHostAddress& sender)
{
    bool isV4 = false;
    const quint32 address = qToBigEndian(sender.toIPv4Address(&isV4));
    if (!isV4)
        return;
    const qint64 at = now();
    const double dbfs = PeakDbfs(LevelSamplesPeak(datagram));
    for (auto it = byAddress_.constFind(address); it != byAddress_.cend() && it.key() == address; ++it) {
        WatchedElement& element = elements_[it.value()];
        if (!element.encoder || element.presenceDown)
            continue;
        element.peakDbfs = dbfs;
        Q_EMIT peakTaken(it.value(), dbfs);
        if (dbfs < settings_.silenceDbfs) {
            element.aboveSinceMs = -1;
            if (element.belowSinceMs < 0)
                element.belowSinceMs = at;
            if (!element.silent && at - element.belowSinceMs >= settings_.silenceMs) {
                element.silent = true;
                Q_EMIT event(QStringLiteral("silence"), element.record, {{QStringLiteral("peak_dbfs"), Dbfs(dbfs)}});
            }
        } else {
            element.belowSinceMs = -1;
            if (element.aboveSinceMs < 0)
                element.aboveSinceMs = at;
            if (element.silent && at - element.aboveSinceMs >= settings_.audioBackMs) {
                element.silent = false;
                Q_EMIT event(QStringLiteral("audio-back"), element.record, {{QStringLiteral("peak_dbfs"), Dbfs(dbfs)}});
            }
        }
        judge(it.value());
    }
}

void LinkMonitor::judge(int index)
{
    WatchedElement& element = elements_[index];
    const ElementState state = element.presenceDown ? ElementState::Down
        : element.silent                            ? ElementState::Silent
        : element.presenceUp                        ? ElementState::Up
                                                    : ElementState::Unknown;
    const ElementState before = element.state;
    if (state != before) {
        element.state = state;
        element.sinceMs = now();
        Q_EMIT stateChanged(index, before, state);
    }
    Q_EMIT elementUpdated(index);
}

} // namespace nms
