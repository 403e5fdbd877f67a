#pragma once
// The IPv4 networks this machine is attached to: where a discovery pages, and which addresses an
// element can be asked at (the console learns an element's MAC only on a network it shares).

#include <QList>
#include <QNetworkAddressEntry>
#include <QString>

namespace nms {

struct AttachedNetwork {
    int interfaceIndex = 0; // 0: no interface of its own; the datagram goes where routing sends it
    QString interfaceName;
    quint32 address = 0; // host order
    quint32 netmask = 0; // host order
    bool up = true;
    bool loopback = false;
    bool broadcast = true;

    bool contains(quint32 hostOrderAddress) const { return (hostOrderAddress & netmask) == (address & netmask); }
};

class AttachedNetworks {
public:
    virtual ~AttachedNetworks() = default;
    virtual QList<AttachedNetwork> list() const = 0;

    // Where a discovery pages: every network that is up, not loopback, and can broadcast. An
    // interface with several IPv4 addresses is paged once.
    QList<AttachedNetwork> pagingNetworks() const;
    // The attached network (up, of any kind) holding the address, or nullptr-like: false.
    bool attached(quint32 hostOrderAddress, AttachedNetwork* network = nullptr) const;
};

// What the kernel reports of one interface, as far as the choice of networks needs it.
struct InterfaceFacts {
    int index = 0;
    QString name;
    bool up = false;
    bool running = false; // carrier: an interface set up without a cable is not running
    bool loopback = false;
    bool canBroadcast = false;
    QList<QNetworkAddressEntry> addresses;
};

// One network per IPv4 address of these interfaces; up means up and running.
QList<AttachedNetwork> NetworksOf(const QList<InterfaceFacts>& interfaces);

// The machine's interfaces as the kernel reports them now.
class SystemNetworks final : public AttachedNetworks {
public:
    QList<AttachedNetwork> list() const override;
};

// A fixed list, for tests and for a console that talks over loopback.
class FixedNetworks final : public AttachedNetworks {
public:
    explicit FixedNetworks(QList<AttachedNetwork> networks = {}) : networks_(std::move(networks)) { }
    QList<AttachedNetwork> list() const override { return networks_; }
    void set(QList<AttachedNetwork> networks) { networks_ = std::move(networks); }

private:
    QList<AttachedNetwork> networks_;
};

} // namespace nms
