#include "ControlFifo.h"

#include <QFile>
#include <QSocketNotifier>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

// Longer than any command: a writer that never ends its line cannot grow the buffer for ever.
constexpr qsizetype kLongestLine = 1024;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

ControlFifo::ControlFifo(QObject* parent) : QObject(parent)
{
}

ControlFifo::~ControlFifo()
{
    closeReadEnd();
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
}

bool ControlFifo::open(const QString& path, QString* error)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (::mkfifo(encoded.constData(), 0600) != 0) {
        *error = errno == EEXIST ? QStringLiteral("--control: %1 exists; remove it or name another path").arg(path)
                                 : QStringLiteral("--control: cannot make %1: %2").arg(path, systemError());
        return false;
    }
    m_path = encoded;
    return openReadEnd(error);
}

bool ControlFifo::openReadEnd(QString* error)
{
    // Non-blocking, or opening would wait for the first writer. The new end is open before the
    // old one closes, so the pipe lives on with whatever a writer has put in meanwhile.
    const int fd = ::open(m_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status { };
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) {
        *error = fd < 0 ? QStringLiteral("--control: cannot open %1: %2").arg(QFile::decodeName(m_path), systemError())
                        : QStringLiteral("--control: %1 is no longer a FIFO").arg(QFile::decodeName(m_path));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    closeReadEnd();
    m_fd = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ControlFifo::readAvailable);
    return true;
}

void ControlFifo::closeReadEnd()
{
    if (m_notifier) {
        // It may be the one whose signal is being handled.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void ControlFifo::readAvailable()
{
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            m_pending.append(buffer, got);
            takeLines();
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && errno == EAGAIN) {
            return; // a writer still holds it open
        } else {
            break; // every writer has closed it
        }
    }
    if (!m_pending.isEmpty())
        Q_EMIT lineReceived(std::exchange(m_pending, {}));
    // This end would report the end of the file for ever after.
    QString error;
    if (!openReadEnd(&error)) {
        closeReadEnd();
        std::fprintf(stderr, "orbilane-element-sim: %s; no more commands\n", qPrintable(error));
        std::fflush(stderr);
    }
}

void ControlFifo::takeLines()
{
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        Q_EMIT lineReceived(line);
    }
    if (m_pending.size() > kLongestLine)
        Q_EMIT lineReceived(std::exchange(m_pending, {}));
}

} // namespace sim
