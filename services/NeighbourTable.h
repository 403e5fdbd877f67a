#pragma once

// The hardware address the kernel knows for an IPv4 neighbour.
//
// Read through rtnetlink (RTM_GETNEIGH), not /proc/net/arp: netlink gives the exact NUD state of
// each entry (the proc file folds them into a flags column and shows incomplete entries with a
// zero address), binary fields with no text parsing, and the same data the `ip neigh` tool reads.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

namespace nms {

class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;
    // The hardware address held for the address (network order), or empty when there is none or
    // the entry is still being resolved or has failed. Never waits for resolution.
    virtual QByteArray lookup(quint32 address) = 0;
    // Makes the kernel start resolving the address without waiting for it, so that a later
    // lookup can find it.
    virtual void solicit(quint32 address) = 0;
    // lookup() of many addresses at once; only addresses with a usable entry are in the result.
    virtual QHash<quint32, QByteArray> lookupMany(const QList<quint32>& addresses);
};

// One IPv4 entry of the kernel's neighbour table.
struct NeighbourEntry {
    quint32 address = 0; // network order
    quint16 state = 0; // NUD_* bits
    int interfaceIndex = 0;
    QByteArray hardwareAddress;
};

// What one buffer read from a neighbour dump holds. Parsing stops at the first message that does
// not fit the buffer, so truncated or garbled input yields what came before it.
struct NeighbourDumpChunk {
    QList<NeighbourEntry> entries;
    bool done = false; // the dump's last message (NLMSG_DONE) was seen
    int error = 0; // a negative errno from an NLMSG_ERROR message
    bool malformed = false;
};
NeighbourDumpChunk ParseNeighbourDump(QByteArrayView buffer);

// Whether an entry in this state carries a usable hardware address.
bool NeighbourStateHoldsAddress(quint16 state);

class LinuxNeighbourTable final : public NeighbourTable {
public:
    QByteArray lookup(quint32 address) override;
    // One read of the table for all of them.
    QHash<quint32, QByteArray> lookupMany(const QList<quint32>& addresses) override;
    void solicit(quint32 address) override;
    // Every IPv4 entry, in one dump; ok = false when the kernel could not be asked.
    QList<NeighbourEntry> entries(bool* ok = nullptr);
};

} // namespace nms
