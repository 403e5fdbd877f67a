#include "services/ServiceManager.h"

#include <QtGlobal>

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>

#include <vector>

namespace nms {

namespace {

// JOURNAL_STREAM is "device:inode" of the stream systemd connected; it counts only while
// standard error is still that stream (a program started from the service inherits the
// variable with other descriptors).
bool StderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const int colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    bool okDevice = false, okInode = false;
    const qulonglong device = stream.left(colon).toULongLong(&okDevice);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&okInode);
    struct stat info = {};
    if (!okDevice || !okInode || ::fstat(2, &info) != 0)
        return false;
    return qulonglong(info.st_dev) == device && qulonglong(info.st_ino) == inode;
}

} // namespace

SystemdServiceManager::SystemdServiceManager()
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        watchdogMs_ = qint64(usec / 1000);
    journal_ = StderrIsJournal();
}

bool SystemdServiceManager::notify(const QByteArray& message)
{
    return sd_notify(0, message.constData()) > 0;
}

bool SystemdServiceManager::sendToJournal(const QList<QByteArray>& fields)
{
    std::vector<iovec> items;
    items.reserve(size_t(fields.size()));
    for (const QByteArray& field : fields)
        items.push_back({const_cast<char*>(field.constData()), size_t(field.size())});
    return sd_journal_sendv(items.data(), int(items.size())) == 0;
}

} // namespace nms
