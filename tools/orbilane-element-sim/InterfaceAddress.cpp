#include "InterfaceAddress.h"

#include "SimWire.h"

#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QStringList>

#include <sys/stat.h>

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

} // namespace sim
