#include "support/PrivateNetwork.h"

#include <QDebug>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace nms::test {

bool RunCommand(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "failed:" << program << arguments;
        return false;
    }
    return true;
}

bool IpCommand(const QString& line)
{
    return RunCommand(QStringLiteral("ip"), line.split(QLatin1Char(' ')));
}

QString EnterPrivateNetworkNamespace(const QString& needsRootFor)
{
    if (::geteuid() != 0)
        return needsRootFor;
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("nsenter")).isEmpty())
        return QStringLiteral("the ip and nsenter tools are missing");
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("unshare(CLONE_NEWNET) failed: ") + QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

PeerNamespace::~PeerNamespace()
{
    process_.kill();
    process_.waitForFinished();
}

bool PeerNamespace::start()
{
    process_.setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(3);
    });
    process_.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    if (!process_.waitForStarted())
        return false;
    const QString pid = QString::number(process_.processId());
    if (QFile::symLinkTarget(QStringLiteral("/proc/%1/ns/net").arg(pid))
        == QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net")))
        return false;
    return IpCommand(QStringLiteral("link add veth0 type veth peer name veth1 netns ") + pid);
}

bool PeerNamespace::run(const QString& shellLine) const
{
    return RunCommand(QStringLiteral("nsenter"),
                      {QStringLiteral("-t"), QString::number(process_.processId()), QStringLiteral("-n"),
                       QStringLiteral("sh"), QStringLiteral("-c"), shellLine});
}

} // namespace nms::test
