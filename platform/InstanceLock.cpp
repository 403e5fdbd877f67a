#include "platform/InstanceLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace nms {

InstanceLock::InstanceLock(QString path) : m_path(std::move(path))
{
}

InstanceLock::~InstanceLock()
{
    unlock();
}

QString InstanceLock::defaultPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/orbilane-nms.lock");
    return QStringLiteral("/tmp/orbilane-nms-%1.lock").arg(::getuid());
}

bool InstanceLock::tryLock()
{
    if (m_fd >= 0)
        return true;
    // Close-on-exec so that programs we start never inherit the lock; no-follow so that a link
    // planted in a shared folder cannot point us at someone else's file.
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void InstanceLock::unlock()
{
    if (m_fd < 0)
        return;
    // The file stays: removing it would race with a copy that has just opened it, which could
    // then lock the unlinked file while a third copy creates and locks a new one. An unheld
    // lock file is harmless.
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace nms
