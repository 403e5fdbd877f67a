#pragma once
// Watches every element of the database at once: presence by ICMP echo (each element once per
// period, spread evenly over it, from one socket), and the audio of every encoder by one level
// query per audio period, attributed by the address it comes from. The state of each element,
// its changes and the events they make are the monitor's; the window and the command line only
// show them.

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>

#include <deque>

#include "database/ElementStore.h"
#include "monitor/MonitorSettings.h"

class QTimer;

namespace nms {

class EchoSweep;
class LinkEndpoint;

enum class ElementState { Unknown, Up, Down, Silent };

// "Unknown", "Up", "Down", "Silent".
QString StateText(ElementState state);

struct WatchedElement {
    ElementRecord record;
    quint32 address = 0; // network order; 0 when the stored address is none
    bool encoder = false;
    ElementState state = ElementState::Unknown;
    qint64 sinceMs = 0; // when the state began, ms since the epoch
    qint64 lastSeenMs = 0; // the last echo answer, ms since the epoch; 0 never
    double roundTripMs = -1; // the last echo answer's; -1 none
    double peakDbfs = qQNaN(); // the last level answer's peak; NaN none
    int misses = 0;

    // What the monitor keeps to decide.
    bool awaiting = false;
    quint64 probe = 0;
    bool presenceUp = false;
    bool presenceDown = false;
    bool silent = false;
    qint64 belowSinceMs = -1;
    qint64 aboveSinceMs = -1;
};

struct MonitorSummary {
    int total = 0, up = 0, down = 0, silent = 0, unknown = 0;
    bool operator==(const MonitorSummary&) const = default;
};

// "12 elements: 11 up, 1 down, 1 silent" (parts that are 0 left out, but never the count).
QString SummaryText(const MonitorSummary& summary);

class LinkMonitor : public QObject {
    Q_OBJECT
public:
    LinkMonitor(EchoSweep& echo, LinkEndpoint& link, const MonitorSettings& settings, QObject* parent = nullptr);

    const MonitorSettings& settings() const { return settings_; }
    // New periods and thresholds; every element keeps its state, the round starts again.
    void setSettings(const MonitorSettings& settings);

    // The elements to watch. An element whose key and address are unchanged keeps its state; a
    // new one or a new address starts Unknown.
    void watch(const QList<ElementRecord>& records);
    void start();
    void stop();
    bool running() const { return running_; }

    const QList<WatchedElement>& elements() const { return elements_; }
    int indexOf(const QString& key) const { return byKey_.value(key, -1); }
    MonitorSummary summary() const;

    // One LevelSamples datagram and the address it came from.
    void takeLevelSamples(const QByteArray& datagram, const QHostAddress& sender);

    // The wall clock, for tests (ms since the epoch).
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

Q_SIGNALS:
    // The watched set was replaced.
    void elementsReset();
    // Anything of one element changed (round trip, peak, state).
    void elementUpdated(int index);
    void stateChanged(int index, nms::ElementState from, nms::ElementState to);
    // Each measurement as it comes, for the history: an echo answered or lost, a level answer.
    void echoAnswered(int index, double roundTripMs);
    void echoLost(int index);
    void peakTaken(int index, double dbfs);
    // element-down, element-up, silence, audio-back: the element and what the event needs.
    void event(const QString& name, const nms::ElementRecord& record, const QJsonObject& fields);
    // The monitor's timer ran: it sent what was due and judged what was late. A service's
    // watchdog is fed from here, so that a monitor that stops ticking is noticed.
    void ticked();

private:
    struct Sent {
        int index;
        quint64 probe;
        qint64 deadline;
    };
    void tick();
    void probeNext();
    void queryNext();
    void expire();
    void answered(quint32 address, double roundTripMs);
    void miss(int index);
    void judge(int index);
    void schedule();
    qint64 now() const { return clock_(); }
    qint64 steadyMs() const { return steady_.elapsed(); }

    EchoSweep& echo_;
    LinkEndpoint& link_;
    MonitorSettings settings_;
    std::function<qint64()> clock_;
    QElapsedTimer steady_; // the echo deadlines, whatever the wall clock does
    // One timer for everything: each tick sends the probes and queries that are due and judges
    // the answers that are late. Requests sent together are answered together, so a thousand
    // elements cost a few dozen wake-ups a second, not thousands.
    QTimer* tickTimer_;
    qint64 startedMs_ = 0;
    qint64 probesSent_ = 0;
    qint64 queriesSent_ = 0;
    QList<WatchedElement> elements_;
    QHash<QString, int> byKey_;
    QMultiHash<quint32, int> byAddress_;
    QList<int> encoders_;
    std::deque<Sent> sent_;
    int nextProbe_ = 0;
    int nextQuery_ = 0;
    quint64 probes_ = 0;
    bool running_ = false;
};

} // namespace nms

Q_DECLARE_METATYPE(nms::ElementState)
