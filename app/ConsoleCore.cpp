#include "app/ConsoleCore.h"

#include "base/Notices.h"
#include "base/ProgramInfo.h"
#include "database/ElementRecords.h"
#include "services/EchoSweep.h"

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
      monitor(environment.sweep ? *environment.sweep : *ownSweep_, link, environment.monitorSettings),
      environment_(environment)
{
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
    connect(&manualAdd, &ManualAdd::added, this, [this](const QString& key) {
        Load_Config();
        selectElement(key);
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
    if (environment_.watch) {
        monitor.watch(store.readAll());
        monitor.start();
    }
    return true;
}

void ConsoleCore::shutdown()
{
    discovery.abort();
    manualAdd.abort();
    audio.stop();
    monitor.stop();
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
    setElements(store.list());
    if (monitor.running())
        monitor.watch(store.readAll());
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
    if (!store.remove(state.selectedKey())) {
        environment_.notices->error(QStringLiteral("Error!"),
                                    QStringLiteral("The local database (%1) could not be written.").arg(store.path())
                                        + QStringLiteral("\rThe element was not deleted."));
        return false;
    }
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

bool ConsoleCore::sendConfig(const ConfigFields& fields)
{
    if (refuseWhileBusy())
        return false;
    return sender.Send_Config(fields);
}

} // namespace nms
