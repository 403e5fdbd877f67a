#include "services/InstanceLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace nms {

InstanceLock::InstanceLock(QString path) : path_(std::move(path))
{
}

InstanceLock::~InstanceLock()
{
    unlock();
}

QString InstanceLock::DefaultPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/orbilane-nms.lock");
    return QStringLiteral("/tmp/orbilane-nms-%1.lock").arg(::getuid());
}

InstanceLock::Result InstanceLock::tryLock()
{
    if (fd_ >= 0)
        return Result::Acquired;
    // Close-on-exec so that programs we start never inherit the lock; no-follow so that a link
    // planted in a shared folder cannot point us at someone else's file.
    const QByteArray name = QFile::encodeName(path_);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Only a lock held elsewhere means another copy; any other refusal is a failure to lock.
        const int why = errno;
        ::close(fd);
        if (why == EWOULDBLOCK)
            return Result::HeldByOther;
        error_ = QString::fromLocal8Bit(std::strerror(why));
        return Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

void InstanceLock::unlock()
{
    if (fd_ < 0)
        return;
    // The file stays: removing it would race with a copy that has just opened it, which could
    // then lock the unlinked file while a third copy creates and locks a new one. An unheld
    // lock file is harmless.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace nms
