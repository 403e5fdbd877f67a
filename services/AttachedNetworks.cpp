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

QList<AttachedNetwork> NetworksOf(const QList<InterfaceFacts>& interfaces)
{
    QList<AttachedNetwork> networks;
    for (const InterfaceFacts& interface : interfaces) {
        for (const QNetworkAddressEntry& entry : interface.addresses) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            AttachedNetwork network;
            network.interfaceIndex = interface.index;
            network.interfaceName = interface.name;
            network.address = entry.ip().toIPv4Address();
            network.netmask = entry.netmask().toIPv4Address();
            network.up = interface.up && interface.running;
            network.loopback = interface.loopback;
            network.broadcast = interface.canBroadcast;
            networks.append(network);
        }
    }
    return networks;
}

QList<AttachedNetwork> SystemNetworks::list() const
{
    QList<InterfaceFacts> interfaces;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        interfaces.append({interface.index(), interface.name(), flags.testFlag(QNetworkInterface::IsUp),
                           flags.testFlag(QNetworkInterface::IsRunning), flags.testFlag(QNetworkInterface::IsLoopBack),
                           flags.testFlag(QNetworkInterface::CanBroadcast), interface.addressEntries()});
    }
    return NetworksOf(interfaces);
}

} // namespace nms
