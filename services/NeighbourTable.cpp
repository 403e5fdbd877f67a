#include "services/NeighbourTable.h"

#include <QSet>

#include <QSet>

#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace nms {

namespace {

constexpr qsizetype kHeaderSize = sizeof(nlmsghdr);
constexpr qsizetype kNdmSize = NLMSG_ALIGN(sizeof(ndmsg));
constexpr qsizetype kAttrHeaderSize = sizeof(rtattr);
constexpr int kReceiveBufferSize = 64 * 1024;

qsizetype Align4(qsizetype n)
{
    return (n + 3) & ~qsizetype(3);
}

// Reads a trivially copyable value at an offset the buffer may not align for it.
template <typename T> T ReadAt(const char* base, qsizetype offset)
{
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

// Fills entry from one RTM_NEWNEIGH message body; false when it is not a usable IPv4 entry.
bool ParseNeighbourMessage(const char* body, qsizetype size, NeighbourEntry* entry)
{
    if (size < qsizetype(sizeof(ndmsg)))
        return false;
    const auto ndm = ReadAt<ndmsg>(body, 0);
    if (ndm.ndm_family != AF_INET)
        return false;
    entry->state = ndm.ndm_state;
    entry->interfaceIndex = ndm.ndm_ifindex;
    bool haveAddress = false;
    for (qsizetype at = kNdmSize; at + kAttrHeaderSize <= size;) {
        const auto attr = ReadAt<rtattr>(body, at);
        if (attr.rta_len < kAttrHeaderSize || at + attr.rta_len > size)
            return false;
        const char* data = body + at + kAttrHeaderSize;
        const qsizetype dataSize = attr.rta_len - kAttrHeaderSize;
        if (attr.rta_type == NDA_DST && dataSize == 4) {
            entry->address = ReadAt<quint32>(data, 0);
            haveAddress = true;
        } else if (attr.rta_type == NDA_LLADDR) {
            entry->hardwareAddress = QByteArray(data, dataSize);
        }
        at += Align4(attr.rta_len);
    }
    return haveAddress;
}

} // namespace

bool NeighbourStateHoldsAddress(quint16 state)
{
    return (state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_NOARP | NUD_PERMANENT)) != 0;
}

NeighbourDumpChunk ParseNeighbourDump(QByteArrayView buffer)
{
    NeighbourDumpChunk chunk;
    const char* base = buffer.data();
    const qsizetype size = buffer.size();
    for (qsizetype at = 0; at < size;) {
        if (size - at < kHeaderSize) {
            chunk.malformed = true;
            break;
        }
        const auto header = ReadAt<nlmsghdr>(base, at);
        if (header.nlmsg_len < kHeaderSize || header.nlmsg_len > quint64(size - at)) {
            chunk.malformed = true;
            break;
        }
        const char* body = base + at + kHeaderSize;
        const qsizetype bodySize = header.nlmsg_len - kHeaderSize;
        if (header.nlmsg_type == NLMSG_DONE) {
            chunk.done = true;
            break;
        }
        if (header.nlmsg_type == NLMSG_ERROR) {
            const int error = bodySize >= qsizetype(sizeof(int)) ? ReadAt<int>(body, 0) : -EPROTO;
            if (error != 0) {
                chunk.error = error;
                break;
            }
        } else if (header.nlmsg_type == RTM_NEWNEIGH) {
            NeighbourEntry entry;
            if (ParseNeighbourMessage(body, bodySize, &entry))
                chunk.entries.append(entry);
        }
        at += Align4(header.nlmsg_len);
    }
    return chunk;
}

QList<NeighbourEntry> LinuxNeighbourTable::entries(bool* ok)
{
    if (ok)
        *ok = false;
    QList<NeighbourEntry> all;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return all;
    // The kernel answers a dump at once; the time limit only guards against a wedged socket.
    const timeval limit {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    struct {
        nlmsghdr header;
        ndmsg body;
    } request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return all;
    }

    QByteArray buffer(kReceiveBufferSize, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
        if (n <= 0 || n > buffer.size())
            break;
        const NeighbourDumpChunk chunk = ParseNeighbourDump(QByteArrayView(buffer.constData(), n));
        all.append(chunk.entries);
        if (chunk.error != 0 || chunk.malformed)
            break;
        if (chunk.done) {
            if (ok)
                *ok = true;
            break;
        }
    }
    ::close(fd);
    return all;
}

QHash<quint32, QByteArray> NeighbourTable::lookupMany(const QList<quint32>& addresses)
{
    QHash<quint32, QByteArray> found;
    for (quint32 address : addresses) {
        const QByteArray bytes = lookup(address);
        if (!bytes.isEmpty())
            found.insert(address, bytes);
    }
    return found;
}

QByteArray LinuxNeighbourTable::lookup(quint32 address)
{
    return lookupMany({address}).value(address);
}

QHash<quint32, QByteArray> LinuxNeighbourTable::lookupMany(const QList<quint32>& addresses)
{
    QHash<quint32, QByteArray> found;
    if (addresses.isEmpty())
        return found;
    const QSet<quint32> wanted(addresses.cbegin(), addresses.cend());
    for (const NeighbourEntry& entry : entries()) {
        // An address may have an entry on several interfaces; the first usable one answers.
        if (wanted.contains(entry.address) && NeighbourStateHoldsAddress(entry.state)
            && !entry.hardwareAddress.isEmpty() && !found.contains(entry.address))
            found.insert(entry.address, entry.hardwareAddress);
    }
    return found;
}

void LinuxNeighbourTable::solicit(quint32 address)
{
    // Nothing to resolve for the unspecified, broadcast or multicast addresses.
    const quint32 host = ntohl(address);
    if (host == 0 || host == 0xFFFFFFFFu || (host >> 28) == 0xE)
        return;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9); // discard: nobody should mind one stray byte there
    to.sin_addr.s_addr = address;
    const char byte = 0;
    ::sendto(fd, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
}

} // namespace nms
