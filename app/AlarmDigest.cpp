#include "app/AlarmDigest.h"

#include <QHash>
#include <QSet>
#include <QTimer>

#include "database/ElementRecords.h"

namespace nms {

namespace {

bool Alarming(ElementState state)
{
    return state == ElementState::Down || state == ElementState::Silent;
}

QString StateWord(ElementState state)
{
    return state == ElementState::Down ? QStringLiteral("down") : QStringLiteral("silent");
}

QString Elements(int count)
{
    return count == 1 ? QStringLiteral("1 element") : QStringLiteral("%1 elements").arg(count);
}

} // namespace

AlarmDigest::AlarmDigest(const LinkMonitor& monitor, int batchMs, QObject* parent)
    : QObject(parent), monitor_(monitor), batch_(new QTimer(this))
{
    batch_->setSingleShot(true);
    batch_->setInterval(batchMs);
    connect(batch_, &QTimer::timeout, this, &AlarmDigest::flush);
    connect(&monitor_, &LinkMonitor::stateChanged, this, &AlarmDigest::take);
    // Elements may have left the watched set with their state.
    connect(&monitor_, &LinkMonitor::elementsReset, this, [this] { setAttention(anythingAlarming()); });
}

void AlarmDigest::take(int index, ElementState, ElementState to)
{
    const bool quiet =
        quiet_ && index >= 0 && index < monitor_.elements().size() && quiet_(monitor_.elements().at(index).record.key);
    if (Alarming(to) && !quiet) {
        if (index >= 0 && index < monitor_.elements().size())
            pending_.append({monitor_.elements().at(index).record, to});
        // Started by the first alarm only: a storm of them still makes one message per period.
        if (!batch_->isActive())
            batch_->start();
        setAttention(true);
    } else if (attention_) {
        setAttention(anythingAlarming());
    }
}

void AlarmDigest::flush()
{
    // An element that alarmed twice within the period counts once, as what it became last: one
    // that fell silent and then went down is down.
    QList<Pending> alarms;
    QHash<QString, qsizetype> byKey;
    for (const Pending& alarm : std::as_const(pending_)) {
        const auto known = byKey.constFind(alarm.record.key);
        if (known != byKey.constEnd()) {
            alarms[*known].state = alarm.state;
            continue;
        }
        byKey.insert(alarm.record.key, alarms.size());
        alarms.append(alarm);
    }
    pending_.clear();
    if (alarms.isEmpty())
        return;
    QSet<QString> down, silent;
    for (const Pending& alarm : std::as_const(alarms))
        (alarm.state == ElementState::Down ? down : silent).insert(alarm.record.key);
    const Pending* first = &alarms.first();
    const int count = int(down.size() + silent.size());
    QString title, text;
    if (count == 1) {
        const ElementRecord& record = first->record;
        title = QStringLiteral("Element ") + StateWord(first->state);
        text = QStringLiteral("%1 [%2] %3 is %4")
                   .arg(record.name.trimmed(), KeyToMacText(record.key), record.ip.trimmed(), StateWord(first->state))
                   .trimmed();
    } else if (silent.isEmpty()) {
        title = QStringLiteral("Elements down");
        text = Elements(int(down.size())) + QStringLiteral(" down");
    } else if (down.isEmpty()) {
        title = QStringLiteral("Elements silent");
        text = Elements(int(silent.size())) + QStringLiteral(" silent");
    } else {
        title = QStringLiteral("Elements down or silent");
        text = QStringLiteral("%1 down, %2 silent").arg(Elements(int(down.size()))).arg(silent.size());
    }
    Q_EMIT alarm(title, text);
}

bool AlarmDigest::anythingAlarming() const
{
    if (quiet_) {
        for (const WatchedElement& element : monitor_.elements()) {
            if (Alarming(element.state) && !quiet_(element.record.key))
                return true;
        }
        return false;
    }
    const MonitorSummary summary = monitor_.summary();
    return summary.down + summary.silent > 0;
}

void AlarmDigest::setAttention(bool attention)
{
    if (attention == attention_)
        return;
    attention_ = attention;
    Q_EMIT attentionChanged(attention_);
}

} // namespace nms
