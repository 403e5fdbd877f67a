#pragma once
// The monitor of every element around the clock, as a system service: the console's core run
// without a window on the service's own database and settings, its events in the journal, the
// service manager told when it is ready, how it is doing (the summary line) and that its
// monitor still ticks. SIGHUP reads the settings and the database again; SIGTERM ends it.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

#include "app/ConsoleCore.h"
#include "base/Notices.h"
#include "services/AttachedNetworks.h"
#include "services/EchoSweep.h"
#include "services/NeighbourTable.h"

namespace nms {

class ServiceManager;

// The watch's exit statuses. Port busy is a temporary failure: the service manager restarts
// the service after its back-off, by which time the console may have been closed.
enum WatchExit { WatchExitOk = 0, WatchExitUsage = 2, WatchExitPortBusy = 75 };

// Notices to the journal (a warning or information entry) when standard error is the journal,
// else to standard error, one line each.
class WatchNotices final : public Notices {
public:
    explicit WatchNotices(ServiceManager& manager) : manager_(manager) { }
    void post(const Notice& notice) override;

private:
    ServiceManager& manager_;
};

class WatchService : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString databasePath;
        QString settingsPath;
    };
    WatchService(const Options& options, ServiceManager& manager, QObject* parent = nullptr);
    ~WatchService() override;

    // Binds the console port and starts watching; WatchExitPortBusy (said) when it is taken.
    int start();
    // SIGHUP: the settings and the database read again.
    void reload();
    // SIGTERM: the monitor stops, console-stopped is written, the manager told.
    void stop();

    ConsoleCore& core() { return *core_; }

private:
    void heartbeat();
    void sayWhenEmpty(int count);
    QString statusText() const;

    Options options_;
    ServiceManager& manager_;
    WatchNotices notices_;
    LinuxNeighbourTable neighbours_;
    SystemNetworks networks_;
    LinuxEchoSweep sweep_;
    std::unique_ptr<ConsoleCore> core_;
    QTimer heartbeat_;
    QElapsedTimer lastTick_;
    QString lastStatus_;
};

} // namespace nms
