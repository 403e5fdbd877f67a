#pragma once
// The console's core for tests, without a window: a private database folder, recorded notices, a
// fake neighbour table, short periods, and by default free loopback ports with a LoopbackElement
// standing in for the network (with productPorts: the real ports and the limited broadcast, for
// tests inside a network namespace of their own).

#include <QHostAddress>
#include <QString>

#include <memory>
#include <optional>

#include "app/ConsoleCore.h"
#include "services/AttachedNetworks.h"
#include "support/FakeNeighbourTable.h"
#include "support/LoopbackElement.h"
#include "support/RecordingNotices.h"
#include "support/TempDir.h"

namespace nms::test {

struct CoreOptions {
    bool productPorts = false; // 2976/2977/1901, the broadcast, the machine's networks
    NeighbourTable* neighbours = nullptr; // default: the fixture's FakeNeighbourTable
    EchoService* echo = nullptr; // default: none (every probe then shows a failure)
    QString databasePath; // default: nms.ini in a private folder
    Timing timing = Timing::Fast(10); // every period a tenth of the product's
    // Watching every element (off by default: it probes every stored address).
    EchoSweep* sweep = nullptr;
    std::optional<MonitorSettings> watch;
    // The notifiers' transports (none: the real ones; the notifiers come from notify.configure()).
    TransportFactory transportFactory;
    QString notifySettingsPath; // the [notify.NAME] groups; empty: no notifier
    NotifyTiming notifyTiming;
};

// The loopback "network" a discovery pages on loopback: one network with no interface of its
// own, so the paging goes where routing sends 127.0.0.1.
QList<AttachedNetwork> LoopbackNetworks();

// A fixture's stand-in for the network: an element on free loopback ports, and the console
// pointed at it (its ports, the paging to 127.0.0.1, `networks` holding the loopback network).
std::unique_ptr<LoopbackElement> LoopbackLan(LinkPorts& ports, QHostAddress& pagingAddress, FixedNetworks& networks);

class CoreFixture {
public:
    explicit CoreFixture(const CoreOptions& options = {});
    ~CoreFixture();
    CoreFixture(const CoreFixture&) = delete;
    CoreFixture& operator=(const CoreFixture&) = delete;

    bool start() { return core_->start(); }

    ConsoleCore& core() const { return *core_; }
    ConsoleCore* operator->() const { return core_.get(); }
    QString database() const { return environment_.databasePath; }
    quint16 consolePort() const { return environment_.ports.console; }
    const CoreEnvironment& environment() const { return environment_; }

    bool writeElement(const QString& key, const StoredElement& element);
    // Shows the element as a pick in the list would.
    bool select(const QString& key) { return core_->selectElement(key); }
    // Sends a datagram from the loopback element to the console.
    bool deliver(const QByteArray& datagram) { return element->sendToConsole(datagram, consolePort()); }

    RecordingNotices notices;
    FakeNeighbourTable neighbours;
    FixedNetworks networks;
    LoopbackElement* element = nullptr; // null with productPorts

private:
    TempDir dir_;
    CoreEnvironment environment_;
    std::unique_ptr<LoopbackElement> elementOwner_;
    std::unique_ptr<SystemNetworks> systemNetworks_;
    std::unique_ptr<ConsoleCore> core_;
};

} // namespace nms::test
