#pragma once
// The measurements of every element gathered in memory, bucket by bucket: each call is a few
// hash look-ups, so the monitor never waits on it. When time passes a bucket's end, that
// bucket's rows are made ready for the file; nothing here touches a file or a clock of its own
// (every call says when it happens).

#include <QHash>
#include <QList>
#include <QString>

#include "trends/TrendRow.h"

namespace nms {

class TrendRecorder {
public:
    explicit TrendRecorder(qint64 bucketMs = 60 * 1000);

    void echoAnswered(const QString& key, double rttMs, qint64 atMs);
    void echoLost(const QString& key, qint64 atMs);
    // digital silence is -inf
    void peak(const QString& key, double dbfs, qint64 atMs);
    void state(const QString& key, TrendState state, qint64 atMs);
    // The elements watched from now on, each with its state; the others stop counting time.
    void watch(const QList<std::pair<QString, TrendState>>& elements, qint64 atMs);

    // Closes every bucket that has ended by atMs.
    void advance(qint64 atMs);
    // Closes the bucket in progress at atMs as it stands (the monitor stops): its rows cover
    // only the time so far.
    void closeNow(qint64 atMs);

    // The rows of the buckets closed since the last call, oldest bucket first.
    QList<TrendRow> takeReady();
    bool hasReady() const { return !ready_.isEmpty(); }

    qint64 bucketMs() const { return bucketMs_; }
    // When the bucket in progress ends; -1 before the first call.
    qint64 bucketEndMs() const { return bucketStart_ < 0 ? -1 : bucketStart_ + bucketMs_; }

private:
    struct Element {
        QList<double> rtts;
        int lost = 0;
        double peakMin = qQNaN();
        double peakMax = qQNaN();
        qint64 stateMs[4] = {0, 0, 0, 0};
        TrendState state = TrendState::Unknown;
        qint64 sinceMs = 0;
        bool watched = false;
    };
    Element& at(const QString& key, qint64 atMs);
    void account(Element& element, qint64 untilMs);
    void close(qint64 endMs);

    qint64 bucketMs_;
    qint64 bucketStart_ = -1;
    QHash<QString, Element> elements_;
    QList<TrendRow> ready_;
};

} // namespace nms
