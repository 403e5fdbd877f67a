#pragma once
// The console's core as a command uses it: built on the machine's networks, neighbour table and
// ICMP echo, its notices on standard error, bound to the console port only when asked.

#include <QString>

#include <memory>

#include "app/ConsoleCore.h"
#include "ctl/CtlCommandLine.h"
#include "ctl/CtlOutput.h"
#include "services/AttachedNetworks.h"
#include "services/EchoSweep.h"
#include "services/NeighbourTable.h"

namespace nms {

// The periods of the product, every wait for an answer shortened to windowMs when given.
Timing CtlTiming(int windowMs);

class CtlSession {
public:
    struct Options {
        QString databasePath;
        int windowMs = 0;
        bool watch = false; // the monitor of every element, with the user's settings
    };
    explicit CtlSession(const Options& options);
    ~CtlSession();

    // Binds the console port; false (said on standard error) when another program holds it.
    bool bind();
    // The same with the monitor started: what the console does at start-up.
    bool start();

    ConsoleCore& core() { return *core_; }
    StderrNotices& notices() { return notices_; }
    EchoSweep& sweep() { return sweep_; }

private:
    bool portTaken();

    StderrNotices notices_;
    LinuxNeighbourTable neighbours_;
    SystemNetworks networks_;
    LinuxEchoSweep sweep_;
    std::unique_ptr<ConsoleCore> core_;
};

} // namespace nms
