#pragma once
// The console without its window: the state, the element database, the link, feedback
// processing, discovery, the MAC lookup, the echo probe and the audio functions, built from their
// real collaborators and wired together. The window constructs one and connects its panels to it;
// tests drive it alone.

#include <QHostAddress>
#include <QObject>

#include "audio/AudioMonitor.h"
#include "database/ElementStore.h"
#include "discovery/DiscoverySession.h"
#include "discovery/ManualAdd.h"
#include "link/Datagrams.h"
#include "link/FeedbackProcessor.h"
#include "link/LinkEndpoint.h"
#include "services/EchoProbe.h"
#include "services/MacLookup.h"
#include "session/ConsoleState.h"
#include "session/Timing.h"

namespace nms {

class AttachedNetworks;
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
};

class ConsoleCore : public QObject {
    Q_OBJECT
public:
    explicit ConsoleCore(const CoreEnvironment& environment, QObject* parent = nullptr);
    ~ConsoleCore() override;

    // Binds udpClient; false when the port is taken.
    bool start();
    // Every timer, window and probe stops and the socket closes; nothing is written.
    void shutdown();

    // Shows the element of that section: its record read in one parse (a damaged one is refused
    // with a notice, and what is shown stays), then one probe of its stored address.
    bool selectElement(const QString& key);
    // Nothing shown any more; the probe and its countdown are dropped.
    void clearSelection();
    // Removes the selected element's section in one rewrite and shows nothing. False (with a
    // notice) when the file could not be written, or nothing is selected.
    bool deleteSelected();

    const CoreEnvironment& environment() const { return environment_; }

    ConsoleState state;
    ElementStore store;
    LinkEndpoint link;
    MacLookup macLookup;
    FeedbackProcessor feedback;
    DiscoverySession discovery;
    ManualAdd manualAdd;
    EchoProbe probe;
    AudioMonitor audio;

private:
    CoreEnvironment environment_;
};

} // namespace nms
