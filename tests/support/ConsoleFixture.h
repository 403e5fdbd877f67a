#pragma once
// A console window for widget and end-to-end tests: a private database folder, scripted message
// boxes, a fake neighbour table, no tray icon and short periods. By default every port is a free
// loopback port and a LoopbackElement stands in for the network; with productPorts the window
// uses the real ports, the limited broadcast and the machine's networks (for tests inside a
// network namespace of their own).

#include <QString>

#include <memory>

#include "app/ConsoleCore.h"
#include "services/AttachedNetworks.h"
#include "shell/FrmMain.h"
#include "support/FakeNeighbourTable.h"
#include "support/LoopbackElement.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TempDir.h"

namespace nms::test {

struct ConsoleOptions {
    bool productPorts = false;
    NeighbourTable* neighbours = nullptr; // default: the fixture's FakeNeighbourTable
    EchoService* echo = nullptr; // default: none (the probe then shows a failure)
    EchoSweep* sweep = nullptr; // the monitor's echo; default: nobody answers
    MonitorSettings monitorSettings;
    QString databasePath; // default: nms.ini in a private folder
    Timing timing = Timing::Fast(10);
};

class ConsoleFixture {
public:
    explicit ConsoleFixture(const ConsoleOptions& options = {});
    ~ConsoleFixture();
    ConsoleFixture(const ConsoleFixture&) = delete;
    ConsoleFixture& operator=(const ConsoleFixture&) = delete;

    // The window's start-up (without the single-instance test). False when the port was taken.
    bool load();

    FrmMain& w() const { return *window_; }
    FrmMain* operator->() const { return window_.get(); }
    ConsoleCore& core() const { return *window_->core; }
    QString database() const { return environment_.databasePath; }
    quint16 consolePort() const { return environment_.ports.console; }
    const ConsoleEnvironment& environment() const { return environment_; }

    bool writeElement(const QString& key, const StoredElement& element);
    // Rebuilds the list from the database and picks the element's entry as the operator would.
    bool select(const QString& key);
    // Runs the event loop until every notice posted so far has been shown.
    void showNotices();

    ScriptedMessageBoxes boxes;
    FakeNeighbourTable neighbours;
    FixedNetworks networks;
    LoopbackElement* element = nullptr; // null with productPorts

private:
    TempDir dir_;
    ConsoleEnvironment environment_;
    std::unique_ptr<LoopbackElement> elementOwner_;
    std::unique_ptr<FrmMain> window_;
};

} // namespace nms::test
