#pragma once
// The console without its window: the state, the element database, the link, feedback
// processing, discovery, the MAC lookup, the echo probe and the audio functions, built from their
// real collaborators and wired together, and the rules that span them: one operation at a time,
// and the element list as a model that follows every write. A window or a command line connects
// to it; tests drive it alone.

#include <QHostAddress>
#include <QObject>

#include <memory>

#include "app/AddressGuard.h"
#include "app/Metrics.h"
#include "audio/AudioMonitor.h"
#include "base/Timing.h"
#include "database/ElementHistory.h"
#include "database/ElementStore.h"
#include "database/EventLog.h"
#include "discovery/DiscoverySession.h"
#include "discovery/ManualAdd.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "monitor/LinkMonitor.h"
#include "notify/NotifyCenter.h"
#include "services/MacLookup.h"
#include "session/ConsoleState.h"
#include "session/EchoProbe.h"
#include "session/ElementSender.h"
#include "session/FeedbackProcessor.h"
#include "trends/TrendStore.h"

namespace nms {

class AttachedNetworks;
class EchoSweep;
class EchoService;
class NeighbourTable;
class Notices;

struct CoreEnvironment {
    QString databasePath;
    LinkPorts ports;
    QHostAddress pagingAddress = QHostAddress::Broadcast;
    Timing timing;
    Notices* notices = nullptr;
    EchoService* echo = nullptr; // none: every probe shows a failure
    NeighbourTable* neighbours = nullptr;
    AttachedNetworks* networks = nullptr;
    // Watching every element: off unless asked for, since it probes every stored address.
    bool watch = false;
    EchoSweep* sweep = nullptr; // the echo of every element; none: nobody answers
    MonitorSettings monitorSettings;
    // Where the monitor's settings are read from at start-up (a damaged file is told); empty:
    // monitorSettings as given.
    QString monitorSettingsPath;
    // The history of every element, kept while the monitor runs; read from monitorSettingsPath too.
    TrendSettings trendSettings;
    // Where the notifiers ([notify.NAME] groups) are read from at start-up; empty: none.
    QString notifySettingsPath;
    // Makes each notifier's transport; none: the real ones (MakeTransport). Tests give fakes.
    TransportFactory transportFactory;
    NotifyTiming notifyTiming;
};

class ConsoleCore : public QObject {
    Q_OBJECT
    // Made before the members that use it.
    std::unique_ptr<EchoSweep> ownSweep_;
    QList<ElementRecord> beforeDiscovery_;
    bool started_ = false;
    bool warnedNeighbours_ = false;

public:
    explicit ConsoleCore(const CoreEnvironment& environment, QObject* parent = nullptr);
    ~ConsoleCore() override;

    // Binds udpClient; false when the port is taken.
    bool start();
    // Every timer, window and probe stops and the socket closes; nothing is written.
    void shutdown();

    // The element list: the database's sections with their names, from one read. An empty or
    // missing database is reported; the element shown before is shown again (its record reloaded
    // and probed) when it is still listed.
    void Load_Config();
    const ElementStore::Listing& elements() const { return elements_; }

    // Shows the element of that section: its record read in one parse (a damaged one is refused
    // with a notice, and what is shown stays), then one probe of its stored address.
    bool selectElement(const QString& key);
    // Nothing shown any more; the probe and its countdown are dropped.
    void clearSelection();
    // Removes the selected element's section in one rewrite, shows nothing and lists the rest.
    // False (with a notice) when the file could not be written, or nothing is selected.
    bool deleteSelected();

    // One operation at a time: none of these starts while a discovery or a manual add waits for
    // answers. A discovery shows nothing and empties the list until its answers are written.
    bool busy() const;
    bool startDiscovery();
    bool startManualAdd(const QString& address);
    // The configuration to the element shown, which its answer is then checked against.
    bool sendConfig(const ConfigFields& fields);
    // The address guard on a configuration for the element shown: its findings at once, or
    // nothing and guard.finished() within guardWaitMs when the network is asked.
    std::optional<QStringList> guardConfig(const ConfigFields& fields);

    const CoreEnvironment& environment() const { return environment_; }

    // Watching: the database read again and watched (elements kept keep their state and
    // alarms, new ones start Unknown, removed ones are dropped); the records now watched.
    QList<ElementRecord> rewatch();
    // New monitor settings (a reload): every element keeps its state; the metrics endpoint
    // follows metrics_listen.
    void applyMonitorSettings(const MonitorSettings& settings);
    QByteArray metricsText() const;
    // The port GET /metrics answers on; 0 when off or it could not listen.
    quint16 metricsPort() const { return metrics_.port(); }

    ConsoleState state;
    ElementStore store;
    LinkEndpoint link;
    ElementSender sender;
    MacLookup macLookup;
    FeedbackProcessor feedback;
    DiscoverySession discovery;
    ManualAdd manualAdd;
    EchoProbe probe;
    AudioMonitor audio;
    LinkMonitor monitor;
    // Beside the database: what happened, and the last record of every element ever seen.
    EventLog eventLog;
    ElementHistory history;
    AddressGuard guard;
    // The round trips, audio and states of every element, minute by minute (trends.sqlite).
    TrendStore trends;
    // The notifiers: alarms off the desk, acknowledgements and maintenance, the outbox.
    NotifyCenter notify;

Q_SIGNALS:
    // After every read of the list (every write that changes the database is followed by one).
    void elementsChanged();
    // A discovery ended and its answers are listed: what it found new and missing.
    void discoveryReported(const QString& text);

private:
    void setElements(ElementStore::Listing listing);
    bool refuseWhileBusy();
    void record(const QString& event, const ElementRecord& element, QJsonObject fields = {});
    void reportDiscovery();
    void watchElements(const QList<ElementRecord>& records);
    void listenForMetrics(const MonitorSettings& settings);

    CoreEnvironment environment_;
    ElementStore::Listing elements_;
    MetricsServer metrics_;
    QString metricsListening_; // "address:port" listened on; empty none
};

} // namespace nms
