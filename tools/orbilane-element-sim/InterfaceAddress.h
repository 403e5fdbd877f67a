#pragma once
// The element's own IPv4 address on its interface, moving it to a new one with `ip`, and taking
// the interface down and back up.

#include <QHash>
#include <QList>
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

// What an interface had before it went down: its first IPv4 address and the routes of the main
// table through it. The kernel keeps the address but drops every route with the link, and brings
// back only the subnet routes of its addresses.
struct LinkSnapshot {
    struct Route {
        quint32 destination = 0;
        quint32 mask = 0;
        quint32 gateway = 0; // 0: on-link
        quint32 metric = 0;
        bool operator==(const Route&) const = default;
    };
    quint32 ip = 0; // 0: it had none
    quint32 mask = 0;
    QList<Route> routes;
};

// Sets `interfaceName` administratively down (SIOCSIFFLAGS) and returns what it had.
std::optional<LinkSnapshot> takeInterfaceDown(const QString& interfaceName, QString* error);

// Sets it up again and puts back what is missing of `before`: the address, if the interface has
// none left, and every route.
bool bringInterfaceUp(const QString& interfaceName, const LinkSnapshot& before, QString* error);

} // namespace sim
