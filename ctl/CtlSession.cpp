#include "ctl/CtlSession.h"

#include <QDir>
#include <QFileInfo>

#include "monitor/MonitorSettings.h"

namespace nms {

Timing CtlTiming(int windowMs)
{
    Timing timing;
    if (windowMs > 0) {
        for (int* period : {&timing.replyMs, &timing.discoveryMs, &timing.echoWaitMs, &timing.guardWaitMs})
            *period = windowMs;
    }
    return timing;
}

CtlSession::CtlSession(const Options& options)
{
    // The per-user folder is made on first use, as the console makes it.
    QDir().mkpath(QFileInfo(options.databasePath).absolutePath());
    CoreEnvironment environment;
    environment.databasePath = options.databasePath;
    environment.timing = CtlTiming(options.windowMs);
    environment.notices = &notices_;
    // The element shown is never pinged: commands that need an echo send their own.
    environment.echo = nullptr;
    environment.neighbours = &neighbours_;
    environment.networks = &networks_;
    // The address guard asks by echo as well as by ARP; the socket opens only when it asks.
    environment.sweep = &sweep_;
    if (options.watch) {
        environment.watch = true;
        environment.monitorSettingsPath = MonitorSettings::DefaultPath();
        environment.notifySettingsPath = environment.monitorSettingsPath;
    }
    core_ = std::make_unique<ConsoleCore>(environment);
}

CtlSession::~CtlSession()
{
    core_->shutdown();
}

bool CtlSession::portTaken()
{
    PrintPortTaken(core_->environment().ports.console);
    return false;
}

bool CtlSession::bind()
{
    // Not ConsoleCore::start(): a command is no console start-up for the event log.
    return core_->link.bind() || portTaken();
}

bool CtlSession::start()
{
    return core_->start() || portTaken();
}

} // namespace nms
