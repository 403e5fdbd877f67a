#include "trends/TrendRecorder.h"

#include <algorithm>
#include <cmath>

namespace nms {

TrendRecorder::TrendRecorder(qint64 bucketMs) : bucketMs_(std::max<qint64>(1, bucketMs))
{
}

TrendRecorder::Element& TrendRecorder::at(const QString& key, qint64 atMs)
{
    advance(atMs);
    auto it = elements_.find(key);
    if (it == elements_.end()) {
        it = elements_.insert(key, Element {});
        it->sinceMs = atMs;
    }
    return *it;
}

void TrendRecorder::echoAnswered(const QString& key, double rttMs, qint64 atMs)
{
    at(key, atMs).rtts.append(rttMs);
}

void TrendRecorder::echoLost(const QString& key, qint64 atMs)
{
    ++at(key, atMs).lost;
}

void TrendRecorder::peak(const QString& key, double dbfs, qint64 atMs)
{
    if (qIsNaN(dbfs))
        return;
    Element& element = at(key, atMs);
    element.peakMin = qIsNaN(element.peakMin) ? dbfs : std::min(element.peakMin, dbfs);
    element.peakMax = qIsNaN(element.peakMax) ? dbfs : std::max(element.peakMax, dbfs);
}

void TrendRecorder::account(Element& element, qint64 untilMs)
{
    const qint64 from = std::max(element.sinceMs, bucketStart_);
    if (untilMs > from)
        element.stateMs[int(element.state)] += untilMs - from;
    element.sinceMs = std::max(element.sinceMs, untilMs);
}

void TrendRecorder::state(const QString& key, TrendState state, qint64 atMs)
{
    Element& element = at(key, atMs);
    account(element, atMs);
    element.state = state;
    element.watched = true;
}

void TrendRecorder::watch(const QList<std::pair<QString, TrendState>>& elements, qint64 atMs)
{
    advance(atMs);
    QHash<QString, TrendState> watched;
    for (const auto& [key, state] : elements)
        watched.insert(key, state);
    for (auto it = elements_.begin(); it != elements_.end(); ++it) {
        if (it->watched && !watched.contains(it.key())) {
            account(*it, atMs);
            it->state = TrendState::Unknown;
            it->watched = false;
        }
    }
    for (auto it = watched.cbegin(); it != watched.cend(); ++it) {
        Element& element = at(it.key(), atMs);
        if (!element.watched || element.state != it.value()) {
            account(element, atMs);
            element.state = it.value();
            element.watched = true;
        }
    }
}

void TrendRecorder::advance(qint64 atMs)
{
    if (bucketStart_ < 0) {
        bucketStart_ = atMs - ((atMs % bucketMs_) + bucketMs_) % bucketMs_;
        return;
    }
    if (atMs < bucketStart_ + bucketMs_)
        return;
    close(bucketStart_ + bucketMs_);
    // After a gap of more than one bucket (a machine asleep, a stalled loop) nothing is known
    // of the time between: no rows for it, and the states count again from the bucket of now.
    const qint64 next = atMs - ((atMs % bucketMs_) + bucketMs_) % bucketMs_;
    if (next > bucketStart_) {
        bucketStart_ = next;
        for (Element& element : elements_)
            element.sinceMs = std::max(element.sinceMs, next);
    }
}

void TrendRecorder::closeNow(qint64 atMs)
{
    advance(atMs);
    if (bucketStart_ < 0 || atMs <= bucketStart_)
        return;
    const qint64 start = bucketStart_;
    close(atMs);
    // Whatever comes later in this bucket is merged with this row when it is written.
    bucketStart_ = start;
}

void TrendRecorder::close(qint64 endMs)
{
    for (auto it = elements_.begin(); it != elements_.end();) {
        Element& element = *it;
        if (element.state != TrendState::Unknown)
            account(element, endMs);
        const qint64 down = element.stateMs[int(TrendState::Down)];
        const qint64 silent = element.stateMs[int(TrendState::Silent)];
        const qint64 up = element.stateMs[int(TrendState::Up)];
        if (!element.rtts.isEmpty() || element.lost > 0 || !qIsNaN(element.peakMax) || down + silent + up > 0) {
            TrendRow row;
            row.key = it.key();
            row.startMs = bucketStart_;
            if (!element.rtts.isEmpty()) {
                QList<double>& rtts = element.rtts;
                std::sort(rtts.begin(), rtts.end());
                const qsizetype middle = rtts.size() / 2;
                row.rttMinMs = rtts.first();
                row.rttMaxMs = rtts.last();
                row.rttMedianMs = rtts.size() % 2 ? rtts.at(middle) : (rtts.at(middle - 1) + rtts.at(middle)) / 2;
                row.answered = int(rtts.size());
            }
            row.lost = element.lost;
            row.peakMinDbfs = element.peakMin;
            row.peakMaxDbfs = element.peakMax;
            row.downMs = down;
            row.silentMs = silent;
            row.upMs = up;
            ready_.append(row);
        }
        if (!element.watched) {
            it = elements_.erase(it);
            continue;
        }
        element = Element {{}, 0, qQNaN(), qQNaN(), {0, 0, 0, 0}, element.state, endMs, true};
        ++it;
    }
    bucketStart_ = endMs;
}

QList<TrendRow> TrendRecorder::takeReady()
{
    return std::exchange(ready_, {});
}

} // namespace nms
