#include "InterfaceAddress.h"

#include "SimWire.h"

#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

std::optional<InterfaceAddress> firstIpv4(const QNetworkInterface& nic)
{
    for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
        if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        InterfaceAddress address;
        address.ip = entry.ip().toIPv4Address();
        address.prefixLength = entry.prefixLength();
        address.loopback = nic.flags().testFlag(QNetworkInterface::IsLoopBack);
        return address;
    }
    return std::nullopt;
}

} // namespace

std::optional<InterfaceAddress> readInterfaceAddress(const QString& interfaceName, QString* error)
{
    const QNetworkInterface nic = QNetworkInterface::interfaceFromName(interfaceName);
    if (!nic.isValid()) {
        *error = QStringLiteral("there is no interface %1").arg(interfaceName);
        return std::nullopt;
    }
    const std::optional<InterfaceAddress> address = firstIpv4(nic);
    if (!address)
        *error = QStringLiteral("interface %1 has no IPv4 address").arg(interfaceName);
    return address;
}

QHash<QString, InterfaceAddress> readInterfaceAddresses()
{
    QHash<QString, InterfaceAddress> addresses;
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        if (const std::optional<InterfaceAddress> address = firstIpv4(nic))
            addresses.insert(nic.name(), *address);
    }
    return addresses;
}

bool inSeparateNetworkNamespace()
{
    auto sameFile = [](const struct stat& a, const struct stat& b) {
        return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
    };
    struct stat own { };
    if (::stat("/proc/self/ns/net", &own) != 0)
        return false;
    const QDir named(QStringLiteral("/run/netns"));
    for (const QString& entry : named.entryList(QDir::Files | QDir::System)) {
        struct stat candidate { };
        if (::stat(QFile::encodeName(named.filePath(entry)).constData(), &candidate) == 0 && sameFile(own, candidate))
            return true;
    }
    // Process 1's namespace may be out of sight (a sandbox): then no proof, no move.
    struct stat host { };
    return ::stat("/proc/1/ns/net", &host) == 0 && !sameFile(own, host);
}

namespace {

bool runIp(const QStringList& arguments, QString* output, QString* error)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), arguments);
    if (!ip.waitForFinished(5000) || ip.exitStatus() != QProcess::NormalExit || ip.exitCode() != 0) {
        *error =
            QStringLiteral("ip %1: %2")
                .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(ip.readAllStandardError()).trimmed());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(ip.readAllStandardOutput());
    return true;
}

// Routes of the interface that will not come back by themselves with the new address.
QList<QStringList> routesToKeep(const QString& interfaceName, QString* error)
{
    QString listing;
    QList<QStringList> routes;
    if (!runIp({QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("show"), QStringLiteral("dev"),
                interfaceName},
               &listing, error))
        return routes;
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.contains(QLatin1String("kernel")))
            continue;
        // Flags in the listing that `ip route replace` does not take.
        words.removeAll(QStringLiteral("linkdown"));
        words.removeAll(QStringLiteral("dead"));
        routes.append(words);
    }
    return routes;
}

} // namespace

bool moveInterfaceAddress(const QString& interfaceName, quint32 newIp, int prefixLength, QString* error)
{
    const QList<QStringList> routes = routesToKeep(interfaceName, error);
    const QString dev = interfaceName;
    if (!runIp({QStringLiteral("-4"), QStringLiteral("addr"), QStringLiteral("flush"), QStringLiteral("dev"), dev},
               nullptr, error))
        return false;
    const QString cidr = addressText(newIp) + QLatin1Char('/') + QString::number(prefixLength);
    if (!runIp({QStringLiteral("-4"), QStringLiteral("addr"), QStringLiteral("add"), cidr, QStringLiteral("brd"),
                QStringLiteral("+"), QStringLiteral("dev"), dev},
               nullptr, error))
        return false;

    bool allBack = true;
    for (const QStringList& route : routes) {
        QString failure;
        if (runIp(QStringList {QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("replace")} + route
                      + QStringList {QStringLiteral("dev"), dev},
                  nullptr, &failure))
            continue;
        // A gateway outside the new subnet cannot come back; an on-link default still lets
        // the element reach the console and send to the limited broadcast.
        if (route.value(0) == QLatin1String("default")
            && runIp({QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("replace"),
                      QStringLiteral("default"), QStringLiteral("dev"), dev},
                     nullptr, &failure))
            continue;
        *error = failure;
        allBack = false;
    }
    return allBack;
}

namespace {

// Interface and route ioctls rather than `ip`: a shared host may take two thousand elements down
// at once, and a process for each would add seconds to the many the kernel already needs.
class IoctlSocket {
public:
    IoctlSocket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) { }
    ~IoctlSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    IoctlSocket(const IoctlSocket&) = delete;
    IoctlSocket& operator=(const IoctlSocket&) = delete;

    // False, with `doing` and the reason in `error`, if the kernel refused; `refusedWith` is what it said.
    bool request(unsigned long what, void* argument, const QString& doing, QString* error,
                 int* refusedWith = nullptr) const
    {
        const int code = m_fd < 0 ? EBADF : ::ioctl(m_fd, what, argument) == 0 ? 0 : errno;
        if (refusedWith)
            *refusedWith = code;
        if (code != 0)
            *error = QStringLiteral("%1: %2").arg(doing, QString::fromLocal8Bit(std::strerror(code)));
        return code == 0;
    }

private:
    int m_fd;
};

ifreq interfaceRequest(const QString& interfaceName)
{
    ifreq request {};
    const QByteArray name = interfaceName.toLocal8Bit();
    std::strncpy(request.ifr_name, name.constData(), IFNAMSIZ - 1);
    return request;
}

sockaddr ipv4Sockaddr(quint32 ip)
{
    sockaddr_in in {};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(ip);
    sockaddr out {};
    std::memcpy(&out, &in, sizeof in);
    return out;
}

quint32 ipv4Of(const sockaddr& address)
{
    sockaddr_in in {};
    std::memcpy(&in, &address, sizeof in);
    return ntohl(in.sin_addr.s_addr);
}

bool setLinkUp(const IoctlSocket& socket, const QString& interfaceName, bool up, QString* error)
{
    ifreq request = interfaceRequest(interfaceName);
    if (!socket.request(SIOCGIFFLAGS, &request, QStringLiteral("flags of %1").arg(interfaceName), error))
        return false;
    request.ifr_flags = short(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
    return socket.request(SIOCSIFFLAGS, &request,
                          QStringLiteral("setting %1 %2").arg(interfaceName, up ? u"up" : u"down"), error);
}

// The main table's routes through the interface, as /proc/net/route lists them (hexadecimal
// numbers in network order).
QList<LinkSnapshot::Route> routesThrough(const QString& interfaceName)
{
    QList<LinkSnapshot::Route> routes;
    QFile file(QStringLiteral("/proc/net/route"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return routes;
    const QByteArray name = interfaceName.toLocal8Bit();
    auto number = [](const QByteArray& hex) { return ntohl(hex.toUInt(nullptr, 16)); };
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 8 || fields.at(0) != name)
            continue;
        routes.append(LinkSnapshot::Route {number(fields.at(1)), number(fields.at(7)), number(fields.at(2)),
                                           fields.at(6).toUInt()});
    }
    return routes;
}

bool addRoute(const IoctlSocket& socket, const QString& interfaceName, const LinkSnapshot::Route& route, QString* error)
{
    QByteArray device = interfaceName.toLocal8Bit();
    rtentry entry {};
    entry.rt_dst = ipv4Sockaddr(route.destination);
    entry.rt_genmask = ipv4Sockaddr(route.mask);
    entry.rt_gateway = ipv4Sockaddr(route.gateway);
    entry.rt_flags = RTF_UP | (route.gateway != 0 ? RTF_GATEWAY : 0) | (route.mask == 0xFFFFFFFFu ? RTF_HOST : 0);
    entry.rt_metric = short(qMin<quint32>(route.metric + 1, SHRT_MAX)); // the ioctl takes one more
    entry.rt_dev = device.data();
    const QString doing = QStringLiteral("route to %1/%2 on %3")
                              .arg(addressText(route.destination))
                              .arg(prefixLength(route.mask).value_or(0))
                              .arg(interfaceName);
    QString failure;
    int refusal = 0;
    if (socket.request(SIOCADDRT, &entry, doing, &failure, &refusal) || refusal == EEXIST)
        return true;
    *error = failure;
    return false;
}

} // namespace

std::optional<LinkSnapshot> takeInterfaceDown(const QString& interfaceName, QString* error)
{
    const IoctlSocket socket;
    LinkSnapshot before;
    ifreq request = interfaceRequest(interfaceName);
    QString ignored; // an interface without an address has nothing to put back
    if (socket.request(SIOCGIFADDR, &request, {}, &ignored)) {
        before.ip = ipv4Of(request.ifr_addr);
        if (socket.request(SIOCGIFNETMASK, &request, {}, &ignored))
            before.mask = ipv4Of(request.ifr_netmask);
    }
    before.routes = routesThrough(interfaceName);
    if (!setLinkUp(socket, interfaceName, false, error))
        return std::nullopt;
    return before;
}

bool bringInterfaceUp(const QString& interfaceName, const LinkSnapshot& before, QString* error)
{
    const IoctlSocket socket;
    if (!setLinkUp(socket, interfaceName, true, error))
        return false;
    ifreq request = interfaceRequest(interfaceName);
    QString ignored;
    // Only onto an interface left without any address: one that has another was moved on purpose.
    if (before.ip != 0 && !socket.request(SIOCGIFADDR, &request, {}, &ignored)) {
        request.ifr_addr = ipv4Sockaddr(before.ip);
        const QString doing = QStringLiteral("putting %1 back on %2").arg(addressText(before.ip), interfaceName);
        if (!socket.request(SIOCSIFADDR, &request, doing, error))
            return false;
        request.ifr_netmask = ipv4Sockaddr(before.mask);
        if (!socket.request(SIOCSIFNETMASK, &request, doing, error))
            return false;
    }
    bool allBack = true;
    const QList<LinkSnapshot::Route> now = routesThrough(interfaceName);
    for (const LinkSnapshot::Route& route : before.routes) {
        if (!now.contains(route))
            allBack = addRoute(socket, interfaceName, route, error) && allBack;
    }
    return allBack;
}

} // namespace sim
