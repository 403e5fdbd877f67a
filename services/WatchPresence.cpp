#include "services/WatchPresence.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nms {

QString WatchLockPath()
{
    const QString path = qEnvironmentVariable("NMS_WATCH_LOCK");
    return path.isEmpty() ? QStringLiteral("/run/orbilane-watch/watch.lock") : path;
}

WatchLock::WatchLock(QString path) : path_(std::move(path))
{
}

WatchLock::~WatchLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool WatchLock::acquire()
{
    if (fd_ >= 0)
        return true;
    // Readable by everyone: the console asks with a shared lock on a read-only descriptor.
    const QByteArray name = QFile::encodeName(path_);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(fd);
        heldByOther_ = why == EWOULDBLOCK;
        error_ = heldByOther_ ? QStringLiteral("another watch holds it") : QString::fromLocal8Bit(std::strerror(why));
        return false;
    }
    // Whatever the service's umask: anyone must be able to open it to ask.
    ::fchmod(fd, 0644);
    // The process id, for a person who looks; the lock is what counts.
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    const bool written = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    Q_UNUSED(written)
    fd_ = fd;
    return true;
}

bool WatchServiceRunning(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace nms
