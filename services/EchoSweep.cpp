#include "services/EchoSweep.h"

#include <QRandomGenerator>
#include <QSocketNotifier>

#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "services/EchoService.h"

namespace nms {

namespace {

constexpr int kIcmpEchoReply = 0;
constexpr int kIcmpHeaderSize = 8;

quint16 ReadBig16(const uchar* p)
{
    return quint16((p[0] << 8) | p[1]);
}

} // namespace

LinuxEchoSweep::LinuxEchoSweep(QObject* parent) : EchoSweep(parent), slots_(65536)
{
    clock_.start();
    id_ = quint16(QRandomGenerator::global()->generate());
    sequence_ = quint16(QRandomGenerator::global()->generate());
}

LinuxEchoSweep::~LinuxEchoSweep()
{
    close();
}

bool LinuxEchoSweep::open()
{
    if (fd_ >= 0)
        return true;
    raw_ = false;
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd_ < 0) {
        raw_ = true;
        fd_ = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    if (fd_ < 0)
        return false;
    if (raw_) {
        // Only echo replies: the kernel spares us every other ICMP packet of the host.
        icmp_filter filter {};
        filter.data = ~(1u << kIcmpEchoReply);
        ::setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    // A thousand answers may arrive close together.
    const int buffer = 1 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &LinuxEchoSweep::drain);
    return true;
}

void LinuxEchoSweep::close()
{
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool LinuxEchoSweep::send(quint32 address)
{
    if (address == 0 || address == 0xFFFFFFFFu || !open())
        return false;
    ++sequence_;
    const QByteArray packet = IcmpEchoRequest(id_, sequence_);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    slots_[sequence_] = {address, clock_.nsecsElapsed()};
    return ::sendto(fd_, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to)
        >= 0;
}

void LinuxEchoSweep::drain()
{
    for (;;) {
        uchar data[600];
        sockaddr_in from {};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, data, sizeof data, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return;
        quint16 sequence = 0;
        if (!raw_) {
            // The kernel delivers only replies carrying this socket's identifier.
            if (n < kIcmpHeaderSize || data[0] != kIcmpEchoReply)
                continue;
            sequence = ReadBig16(data + 6);
        } else {
            const qsizetype ipLength = n >= 20 ? (data[0] & 0x0F) * 4 : 0;
            if (ipLength < 20 || n < ipLength + kIcmpHeaderSize)
                continue;
            sequence = ReadBig16(data + ipLength + 6);
            const RawIcmpVerdict verdict =
                ClassifyRawIcmp(QByteArrayView(data, n), slots_[sequence].address, id_, sequence);
            if (verdict.kind != RawIcmpVerdict::EchoReply)
                continue;
        }
        Slot& slot = slots_[sequence];
        if (slot.address == 0 || slot.address != from.sin_addr.s_addr)
            continue;
        const double roundTripMs = double(clock_.nsecsElapsed() - slot.sentNs) / 1e6;
        const quint32 address = slot.address;
        slot.address = 0; // a duplicate answer counts once
        Q_EMIT replied(address, roundTripMs);
    }
}

} // namespace nms
