#include "services/AttachedNetworks.h"

#include <QNetworkInterface>

namespace nms {

QList<AttachedNetwork> AttachedNetworks::pagingNetworks() const
{
    QList<AttachedNetwork> paging;
    for (const AttachedNetwork& network : list()) {
        if (!network.up || network.loopback || !network.broadcast)
            continue;
        const bool seen = std::any_of(paging.cbegin(), paging.cend(), [&](const AttachedNetwork& other) {
            return network.interfaceIndex > 0 && other.interfaceIndex == network.interfaceIndex;
        });
        if (!seen)
            paging.append(network);
    }
    return paging;
}

bool AttachedNetworks::attached(quint32 hostOrderAddress, AttachedNetwork* found) const
{
    for (const AttachedNetwork& network : list()) {
        if (network.up && network.contains(hostOrderAddress)) {
            if (found)
                *found = network;
            return true;
        }
    }
    return false;
}

QList<AttachedNetwork> SystemNetworks::list() const
{
    QList<AttachedNetwork> networks;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            AttachedNetwork network;
            network.interfaceIndex = interface.index();
            network.interfaceName = interface.name();
            network.address = entry.ip().toIPv4Address();
            network.netmask = entry.netmask().toIPv4Address();
            network.up = flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning);
            network.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
            network.broadcast = flags.testFlag(QNetworkInterface::CanBroadcast);
            networks.append(network);
        }
    }
    return networks;
}

} // namespace nms
