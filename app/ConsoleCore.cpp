#include "app/ConsoleCore.h"

#include <QDateTime>
#include <QJsonArray>

#include "app/DiscoveryReport.h"
#include "app/TrendFeed.h"
#include "services/NeighbourLimits.h"

#include "base/Notices.h"
#include "base/ProgramInfo.h"
#include "database/ElementRecords.h"
#include "services/EchoSweep.h"
#include "trends/TrendDatabase.h"

namespace nms {

namespace {

// Watching without an echo: every element stays unanswered.
class SilentEchoSweep final : public EchoSweep {
public:
    bool send(quint32) override { return false; }
    void close() override { }
};

} // namespace

ConsoleCore::ConsoleCore(const CoreEnvironment& environment, QObject* parent)
    : QObject(parent),
      ownSweep_(environment.sweep ? nullptr : std::make_unique<SilentEchoSweep>()),
      store(environment.databasePath),
      link(environment.ports),
      sender(link, state, store, *environment.notices, environment.timing),
      macLookup(*environment.neighbours, environment.timing),
      feedback(state, store, macLookup, sender, *environment.notices),
      discovery(state, store, link, *environment.networks, *environment.notices, environment.timing,
                environment.pagingAddress),
      manualAdd(store, link, *environment.networks, *environment.notices, environment.timing),
      probe(environment.echo, *environment.notices, environment.timing),
      audio(sender, state, store, *environment.notices, environment.timing),
      monitor(environment.sweep ? *environment.sweep : *ownSweep_, link,
              environment.monitorSettingsPath.isEmpty()
                  ? environment.monitorSettings
                  : MonitorSettings::Load(environment.monitorSettingsPath, *environment.notices)),
      eventLog(EventLog::PathBeside(environment.databasePath), *environment.notices),
      history(ElementHistory::PathBeside(environment.databasePath), *environment.notices),
      guard(environment.sweep ? *environment.sweep : *ownSweep_, *environment.neighbours,
            environment.timing.guardWaitMs),
      trends(TrendDatabase::PathBeside(environment.databasePath), *environment.notices,
             environment.monitorSettingsPath.isEmpty() ? environment.trendSettings
                                                       : TrendSettings::Load(environment.monitorSettingsPath)),
      notify(environment.databasePath, eventLog, *environment.notices,
             environment.transportFactory ? environment.transportFactory : TransportFactory(MakeTransport),
             environment.notifyTiming),
      environment_(environment),
      metrics_([this] { return metricsText(); })
{
    FeedTrends(monitor, trends);
    connect(&link, &LinkEndpoint::levelSamplesArrived, &monitor, &LinkMonitor::takeLevelSamples);
    connect(&link, &LinkEndpoint::feedbackArrived, &feedback, &FeedbackProcessor::Process_Feedback);
    connect(&link, &LinkEndpoint::levelSamplesArrived, &audio, &AudioMonitor::ShowAudioLevel);
    feedback.addCollector(&discovery);
    feedback.addCollector(&manualAdd);
    // Whatever is shown next, the meter of the one before stops; a reload of the same one
    // (after every answer) leaves it running.
    connect(&state, &ConsoleState::elementChanged, &audio, &AudioMonitor::stop);
    // A retry after a time-out probes the address stored for the element shown by then.
    probe.setRetryAddress([this] { return state.selected().ip; });
    // Outside a discovery the list, and the element shown, follow the database after every answer.
    connect(&feedback, &FeedbackProcessor::reloadRequested, this, &ConsoleCore::Load_Config);
    connect(&discovery, &DiscoverySession::finished, this, &ConsoleCore::Load_Config);
    // After the list, what changed.
    connect(&discovery, &DiscoverySession::finished, this, &ConsoleCore::reportDiscovery);
    connect(&manualAdd, &ManualAdd::added, this, [this](const QString& key) {
        Load_Config();
        selectElement(key);
        const ElementRecord added = store.read(key);
        history.remember({added}, QDateTime::currentDateTimeUtc());
        record(QStringLiteral("element-added"), added);
    });

    // The event log.
    connect(&monitor, &LinkMonitor::event, this,
            [this](const QString& name, const ElementRecord& element, const QJsonObject& fields) {
                record(name, element, fields);
            });
    // An alarm a previous run left open whose element is back, as far as the monitor can tell
    // from the start: its return was not seen, so it is told now.
    connect(&monitor, &LinkMonitor::elementUpdated, this, [this](int index) {
        if (!notify.anyAlarmOpen() || index < 0 || index >= monitor.elements().size())
            return;
        const WatchedElement& element = monitor.elements().at(index);
        if (element.state != ElementState::Up)
            return;
        const QJsonObject unseen {{QStringLiteral("unseen"), true}};
        if (notify.alarmOpen(element.record.key, QStringLiteral("element-down")))
            record(QStringLiteral("element-up"), element.record, unseen);
        else if (notify.alarmOpen(element.record.key, QStringLiteral("silence")) && element.aboveSinceMs >= 0
                 && QDateTime::currentMSecsSinceEpoch() - element.aboveSinceMs >= monitor.settings().audioBackMs)
            record(QStringLiteral("audio-back"), element.record, unseen);
    });
    connect(&sender, &ElementSender::replyTimedOut, this,
            [this] { record(QStringLiteral("config-timeout"), state.selected()); });
    connect(&feedback, &FeedbackProcessor::configurationAnswered, this,
            [this](const QString& key, const QStringList& refused) {
                const ElementRecord stored = store.read(key);
                history.remember({stored}, QDateTime::currentDateTimeUtc());
                if (refused.isEmpty())
                    record(QStringLiteral("config-confirmed"), stored);
                else
                    record(QStringLiteral("config-refused"), stored,
                           {{QStringLiteral("fields"), QJsonArray::fromStringList(refused)}});
            });
    connect(&audio, &AudioMonitor::attenuationSent, this, [this](int value) {
        record(QStringLiteral("attenuation-set"), state.selected(),
               {{QStringLiteral("att"), value},
                {QStringLiteral("db"),
                 value <= AttenuationMinimum ? QJsonValue(QStringLiteral("mute"))
                                             : QJsonValue((value - AttenuationZeroDb) * 0.5)}});
    });
}

ConsoleCore::~ConsoleCore()
{
    shutdown();
}

bool ConsoleCore::start()
{
    if (!link.bind())
        return false;
    started_ = true;
    if (!environment_.notifySettingsPath.isEmpty())
        notify.loadSettings(environment_.notifySettingsPath);
    notify.start();
    eventLog.append(QStringLiteral("console-started"),
                    {{QStringLiteral("version"), VersionText()}, {QStringLiteral("database"), store.path()}});
    if (environment_.watch) {
        monitor.start();
        trends.start();
        watchElements(store.readAll());
        listenForMetrics(monitor.settings());
    }
    return true;
}

QList<ElementRecord> ConsoleCore::rewatch()
{
    const QList<ElementRecord> records = store.readAll();
    watchElements(records);
    return records;
}

void ConsoleCore::applyMonitorSettings(const MonitorSettings& settings)
{
    if (!(settings == monitor.settings()))
        monitor.setSettings(settings);
    if (started_ && environment_.watch)
        listenForMetrics(settings);
}

void ConsoleCore::listenForMetrics(const MonitorSettings& settings)
{
    const QString wanted = settings.metricsPort == 0
        ? QString()
        : QStringLiteral("%1:%2").arg(settings.metricsAddress).arg(settings.metricsPort);
    if (wanted == metricsListening_ && (wanted.isEmpty() || metrics_.listening()))
        return;
    metrics_.close();
    metricsListening_ = wanted;
    if (wanted.isEmpty())
        return;
    QString error;
    if (!metrics_.listen(settings.metricsAddress, settings.metricsPort, &error)) {
        metricsListening_.clear();
        environment_.notices->error(
            QStringLiteral("Metrics"),
            QStringLiteral("The metrics for Prometheus cannot listen on %1: %2.").arg(wanted, error)
                + QStringLiteral("\rThe monitor goes on without them."));
    }
}

QByteArray ConsoleCore::metricsText() const
{
    QList<NotifierCount> counts;
    for (const QString& name : notify.notifiers()) {
        const NotifierCounters counters = notify.counters(name);
        counts.append({name, quint64(counters.sent), quint64(counters.failed)});
    }
    return MetricsText(monitor.elements(), counts, VersionText());
}

void ConsoleCore::watchElements(const QList<ElementRecord>& records)
{
    monitor.watch(records);
    if (warnedNeighbours_)
        return;
    // Every watched element needs an entry in the kernel's neighbour table; near its limit,
    // echoes fail and elements look down when they are not.
    const NeighbourLimits limits = ReadNeighbourLimits();
    if (NearNeighbourLimit(int(records.size()), limits)) {
        warnedNeighbours_ = true;
        const QString text = QStringLiteral("%1 elements are watched, close to the kernel's neighbour table limit "
                                            "(net.ipv4.neigh.default.gc_thresh2 = %2).")
                                 .arg(records.size())
                                 .arg(limits.thresh2)
            + QStringLiteral("\rNear it, elements may look down when they are not: the README tells how to raise it.");
        environment_.notices->error(QStringLiteral("Network status"), text);
        eventLog.append(QStringLiteral("neighbour-limit"),
                        {{QStringLiteral("count"), int(records.size())},
                         {QStringLiteral("gc_thresh2"), limits.thresh2},
                         {QStringLiteral("gc_thresh3"), limits.thresh3}});
    }
}

void ConsoleCore::record(const QString& event, const ElementRecord& element, QJsonObject fields)
{
    QJsonObject line = ElementEventFields(element);
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        line.insert(it.key(), it.value());
    // Logged as ever, but nobody is called about an element under maintenance.
    if (notify.states().inMaintenance(element.key))
        line.insert(QStringLiteral("maintenance"), true);
    eventLog.append(event, line);
    if (NotifyEventNames().contains(event))
        notify.take(event, element, fields);
}

void ConsoleCore::reportDiscovery()
{
    const QList<ElementRecord> found = store.readAll();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    history.remember(found, now);
    const DiscoveryReport report = CompareDiscovery(beforeDiscovery_, found);
    beforeDiscovery_.clear();
    eventLog.append(QStringLiteral("discovery"),
                    {{QStringLiteral("count"), report.found},
                     {QStringLiteral("new"), int(report.added.size())},
                     {QStringLiteral("missing"), int(report.missing.size())}});
    for (const ElementRecord& element : report.added)
        record(QStringLiteral("element-new"), element);
    for (const ElementRecord& element : report.missing)
        record(QStringLiteral("element-missing"), element);
    const QString text = DiscoveryReportText(report);
    if (!report.added.isEmpty() || !report.missing.isEmpty())
        environment_.notices->information(QStringLiteral("Auto Discovery"), text);
    Q_EMIT discoveryReported(text);
}

void ConsoleCore::shutdown()
{
    discovery.abort();
    manualAdd.abort();
    audio.stop();
    monitor.stop();
    trends.stop();
    notify.stop();
    metrics_.close();
    metricsListening_.clear();
    if (started_) {
        started_ = false;
        eventLog.append(QStringLiteral("console-stopped"));
    }
    probe.cancel();
    sender.stopReplyTimer();
    macLookup.cancelAll();
    link.close();
}

void ConsoleCore::setElements(ElementStore::Listing listing)
{
    elements_ = std::move(listing);
    Q_EMIT elementsChanged();
}

void ConsoleCore::Load_Config()
{
    if (monitor.running()) {
        // One read of every record serves the list and the monitor alike.
        const QList<ElementRecord> records = store.readAll();
        ElementStore::Listing listing;
        listing.fileExists = store.exists();
        for (const ElementRecord& record : records) {
            listing.keys.append(record.key);
            listing.names.append(record.name);
        }
        setElements(std::move(listing));
        watchElements(records);
    } else {
        setElements(store.list());
    }
    Notices& notices = *environment_.notices;
    if (!elements_.fileExists) {
        notices.information(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."));
        return;
    }
    if (elements_.keys.isEmpty()) {
        notices.information(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network."));
        return;
    }
    if (state.hasSelection() && elements_.keys.contains(state.selectedKey()))
        selectElement(state.selectedKey());
}

bool ConsoleCore::selectElement(const QString& key)
{
    probe.markNotProbed();
    const ElementRecord record = store.read(key);
    if (record.entryCount > MaxSoundSectionEntries) {
        environment_.notices->error(ProgramTitle(),
                                    QStringLiteral("The data stored in your computer about this element, is "
                                                   "corrupted (1).\rCannot load this element info."));
        return false;
    }
    state.select(record);
    probe.PingElement(record.ip);
    return true;
}

bool ConsoleCore::deleteSelected()
{
    if (!state.hasSelection())
        return false;
    const ElementRecord deleted = state.selected();
    if (!store.remove(state.selectedKey())) {
        environment_.notices->error(QStringLiteral("Error!"),
                                    QStringLiteral("The local database (%1) could not be written.").arg(store.path())
                                        + QStringLiteral("\rThe element was not deleted."));
        return false;
    }
    record(QStringLiteral("element-deleted"), deleted);
    clearSelection();
    Load_Config();
    return true;
}

void ConsoleCore::clearSelection()
{
    state.clearSelection();
    probe.cancel();
}

bool ConsoleCore::busy() const
{
    return discovery.running() || manualAdd.running();
}

bool ConsoleCore::refuseWhileBusy()
{
    if (!busy())
        return false;
    environment_.notices->error(QStringLiteral("Error!"),
                                QStringLiteral("The console is waiting for Network Elements to answer.")
                                    + QStringLiteral("\rPlease try again when it is done."));
    return true;
}

bool ConsoleCore::startDiscovery()
{
    if (refuseWhileBusy())
        return false;
    clearSelection();
    // The records a discovery is about to replace: what it finds is compared with them, and the
    // history keeps every one it does not know yet.
    beforeDiscovery_ = store.readAll();
    history.rememberUnknown(beforeDiscovery_, QDateTime::currentDateTimeUtc());
    // Nothing is listed while the database is rebuilt.
    setElements({});
    if (!discovery.start()) {
        // The operator has been told why; the list shows what the file holds.
        Load_Config();
        return false;
    }
    return true;
}

bool ConsoleCore::startManualAdd(const QString& address)
{
    if (refuseWhileBusy())
        return false;
    return manualAdd.start(address);
}

std::optional<QStringList> ConsoleCore::guardConfig(const ConfigFields& fields)
{
    return guard.check(fields, state.selected(), state.role() == ElementRole::Encoder, store.readAll());
}

bool ConsoleCore::sendConfig(const ConfigFields& fields)
{
    if (refuseWhileBusy())
        return false;
    if (!sender.Send_Config(fields))
        return false;
    record(QStringLiteral("config-sent"), state.selected(),
           {{QStringLiteral("config"),
             QJsonObject {{QStringLiteral("name"), fields.name.trimmed()},
                          {QStringLiteral("ip"), fields.ip},
                          {QStringLiteral("mask"), fields.mask},
                          {QStringLiteral("gateway"), fields.gw},
                          {QStringLiteral("remote"), fields.remote},
                          {QStringLiteral("input"), fields.input},
                          {QStringLiteral("type"), fields.type},
                          {QStringLiteral("tx"), fields.tx}}}});
    return true;
}

} // namespace nms
