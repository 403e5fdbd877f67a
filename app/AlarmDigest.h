#pragma once
// What the monitor's changes mean for the operator's attention. An element that goes down or
// falls silent is an alarm; alarms that come close together make one message, so an outage of a
// whole site is one notification, not hundreds. Recoveries are no alarm. Attention holds while
// anything is down or silent.

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

#include "base/Timing.h"
#include "database/ElementStore.h"
#include "monitor/LinkMonitor.h"

class QTimer;

namespace nms {

class AlarmDigest : public QObject {
    Q_OBJECT
public:
    explicit AlarmDigest(const LinkMonitor& monitor, int batchMs = Timing().alarmBatchMs, QObject* parent = nullptr);

    bool attention() const { return attention_; }

    // Elements whose alarms are not raised (those in maintenance), by key.
    void setQuiet(std::function<bool(const QString& key)> quiet) { quiet_ = std::move(quiet); }
    // Attention looked at again (after an element's maintenance began or ended).
    void reconsider() { setAttention(anythingAlarming()); }

Q_SIGNALS:
    // One element: "Element down", "SITE RX [00:11:22:33:44:55] 10.0.0.5 is down". Several:
    // "Elements down", "37 elements down" (or silent, or "37 elements down, 3 silent").
    void alarm(const QString& title, const QString& text);
    void attentionChanged(bool attention);

private:
    struct Pending {
        ElementRecord record;
        ElementState state;
    };
    void take(int index, ElementState from, ElementState to);
    void flush();
    void setAttention(bool attention);
    bool anythingAlarming() const;

    const LinkMonitor& monitor_;
    QTimer* batch_;
    QList<Pending> pending_;
    bool attention_ = false;
    std::function<bool(const QString&)> quiet_;
};

} // namespace nms
