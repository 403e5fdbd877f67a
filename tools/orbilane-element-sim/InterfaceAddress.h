#pragma once
// The element's own IPv4 address on its interface, and moving it to a new one with `ip`.

#include <QHash>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace sim {

struct InterfaceAddress {
    quint32 ip = 0;
    int prefixLength = 0;
    bool loopback = false;
};

// The first IPv4 address of `interfaceName`; nullopt (and why) if it has none.
std::optional<InterfaceAddress> readInterfaceAddress(const QString& interfaceName, QString* error);

// The first IPv4 address of every interface that has one, by interface name. One listing for
// all: asking for each of 1000 interfaces by name lists them all every time.
QHash<QString, InterfaceAddress> readInterfaceAddresses();

// True when this process runs in a network namespace apart from the machine's own: one made
// by `ip netns` (listed in /run/netns), or any other that process 1 does not share.
bool inSeparateNetworkNamespace();

// Gives `interfaceName` the single address newIp/prefixLength. The old address goes first:
// added beside it in the same subnet the new one would only be a secondary, and deleting the
// primary afterwards would take both. Deleting the last address also drops every route of
// the interface, so the routes the kernel did not make itself (the on-link default that
// limited broadcast needs, a gateway) are noted before and put back after.
bool moveInterfaceAddress(const QString& interfaceName, quint32 newIp, int prefixLength, QString* error);

} // namespace sim
