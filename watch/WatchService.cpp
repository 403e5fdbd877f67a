#include "watch/WatchService.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cstdio>

#include "app/JournalEvents.h"
#include "services/ServiceManager.h"

namespace nms {

void WatchNotices::post(const Notice& notice)
{
    QString text = notice.title.isEmpty() ? notice.text : notice.title + QStringLiteral(": ") + notice.text;
    text.replace(QChar(u'\r'), QChar(u' '));
    if (manager_.journalAttached()) {
        const JournalPriority priority =
            notice.icon == NoticeIcon::Error ? JournalPriority::Warning : JournalPriority::Info;
        manager_.sendToJournal({"MESSAGE=" + text.toUtf8(), "PRIORITY=" + QByteArray::number(int(priority))});
        return;
    }
    std::fprintf(stderr, "orbilane-watch: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

WatchService::WatchService(const Options& options, ServiceManager& manager, QObject* parent)
    : QObject(parent), options_(options), manager_(manager), notices_(manager)
{
    QDir().mkpath(QFileInfo(options.databasePath).absolutePath());
    CoreEnvironment environment;
    environment.databasePath = options.databasePath;
    environment.notices = &notices_;
    environment.echo = nullptr; // nothing is shown, so nothing of its own is pinged
    environment.neighbours = &neighbours_;
    environment.networks = &networks_;
    environment.sweep = &sweep_;
    environment.watch = true;
    environment.monitorSettingsPath = options.settingsPath;
    environment.notifySettingsPath = options.settingsPath;
    core_ = std::make_unique<ConsoleCore>(environment);

    // Each event once: in the journal with its fields under systemd, else on standard output.
    core_->eventLog.setEcho([this](const QByteArray& line) {
        if (manager_.journalAttached()) {
            manager_.sendToJournal(JournalEntry(line));
        } else {
            // The line as the log writes it, its line end included.
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fflush(stdout);
        }
    });
    connect(&core_->monitor, &LinkMonitor::ticked, this, [this] { lastTick_.restart(); });
    lastTick_.start();
    connect(&heartbeat_, &QTimer::timeout, this, &WatchService::heartbeat);
}

WatchService::~WatchService()
{
    core_->shutdown();
}

int WatchService::start()
{
    if (!core_->start()) {
        notices_.error(QString(),
                       QStringLiteral("UDP port %1 is in use by another program (the Orbilane NMS console, orbilanectl "
                                      "or another watch); the watch cannot run beside it and ends. Close that "
                                      "program; the service is started again after its restart delay.")
                           .arg(core_->environment().ports.console));
        return WatchExitPortBusy;
    }
    sayWhenEmpty(int(core_->monitor.elements().size()));
    lastStatus_ = statusText();
    manager_.notify("READY=1\nSTATUS=" + lastStatus_.toUtf8());
    // The watchdog is fed at four times its rate; the status follows within a second.
    const qint64 watchdog = manager_.watchdogMs();
    heartbeat_.start(int(watchdog > 0 ? qBound(qint64(10), watchdog / 4, qint64(1000)) : 1000));
    return WatchExitOk;
}

void WatchService::heartbeat()
{
    const QString status = statusText();
    QByteArray message;
    if (status != lastStatus_) {
        lastStatus_ = status;
        message = "STATUS=" + status.toUtf8();
    }
    // Fed only while the monitor ticks: with elements to watch its timer runs every few tens of
    // milliseconds, so a tick older than half the watchdog period means it has stalled.
    const qint64 watchdog = manager_.watchdogMs();
    if (watchdog > 0
        && (core_->monitor.elements().isEmpty() || !core_->monitor.running() || lastTick_.elapsed() < watchdog / 2))
        message += message.isEmpty() ? "WATCHDOG=1" : "\nWATCHDOG=1";
    if (!message.isEmpty())
        manager_.notify(message);
}

QString WatchService::statusText() const
{
    return SummaryText(core_->monitor.summary());
}

void WatchService::sayWhenEmpty(int count)
{
    if (count > 0)
        return;
    const QString path = core_->store.path();
    notices_.error(
        QString(),
        QStringLiteral("The database %1 %2, so nothing is watched yet. Fill it with a discovery run as the "
                       "service's user while the service is stopped (it holds the console port): "
                       "systemctl stop orbilane-watch; sudo -u orbilane-watch orbilanectl --database %1 discover; "
                       "systemctl start orbilane-watch. Or copy a console's nms.ini there and run "
                       "systemctl reload orbilane-watch.")
            .arg(path,
                 QFileInfo::exists(path) ? QStringLiteral("holds no element") : QStringLiteral("does not exist")));
}

void WatchService::reload()
{
    manager_.notify("RELOADING=1");
    QSet<QString> before;
    for (const WatchedElement& element : core_->monitor.elements())
        before.insert(element.record.key);
    core_->applyMonitorSettings(MonitorSettings::Load(options_.settingsPath, notices_));
    core_->notify.loadSettings(options_.settingsPath);
    const QList<ElementRecord> records = core_->rewatch();
    int added = 0;
    for (const ElementRecord& record : records)
        added += before.remove(record.key) ? 0 : 1;
    core_->eventLog.append(QStringLiteral("watch-reloaded"),
                           {{QStringLiteral("count"), int(records.size())},
                            {QStringLiteral("added"), added},
                            {QStringLiteral("removed"), int(before.size())}});
    sayWhenEmpty(int(records.size()));
    lastStatus_ = statusText();
    manager_.notify("READY=1\nSTATUS=" + lastStatus_.toUtf8());
}

void WatchService::stop()
{
    manager_.notify("STOPPING=1");
    heartbeat_.stop();
    core_->shutdown();
}

} // namespace nms
