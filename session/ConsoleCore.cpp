#include "session/ConsoleCore.h"

#include "database/ElementRecords.h"
#include "services/Notices.h"

namespace nms {

ConsoleCore::ConsoleCore(const CoreEnvironment& environment, QObject* parent)
    : QObject(parent),
      store(environment.databasePath),
      link(environment.ports, environment.timing, state, store, *environment.notices),
      macLookup(*environment.neighbours, environment.timing),
      feedback(state, store, macLookup, link, *environment.notices),
      discovery(state, store, link, *environment.networks, *environment.notices, environment.timing,
                environment.pagingAddress),
      manualAdd(store, link, *environment.networks, *environment.notices, environment.timing),
      probe(environment.echo, *environment.notices, environment.timing),
      audio(link, state, store, *environment.notices, environment.timing),
      environment_(environment)
{
    connect(&link, &LinkEndpoint::feedbackArrived, &feedback, &FeedbackProcessor::Process_Feedback);
    connect(&link, &LinkEndpoint::levelSamplesArrived, &audio, &AudioMonitor::ShowAudioLevel);
    feedback.addCollector(&discovery);
    feedback.addCollector(&manualAdd);
    // Whatever is shown next, the meter of the one before stops; a reload of the same one
    // (after every answer) leaves it running.
    connect(&state, &ConsoleState::elementChanged, &audio, &AudioMonitor::stop);
}

ConsoleCore::~ConsoleCore()
{
    shutdown();
}

bool ConsoleCore::start()
{
    return link.bind();
}

void ConsoleCore::shutdown()
{
    discovery.abort();
    manualAdd.abort();
    audio.stop();
    probe.cancel();
    macLookup.cancelAll();
    link.close();
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
    return true;
}

void ConsoleCore::clearSelection()
{
    state.clearSelection();
    probe.cancel();
}

} // namespace nms
