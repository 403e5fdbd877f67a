#include "services/EchoService.h"

#include "base/AddressText.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nms {

namespace {

constexpr int kIcmpEchoReply = 0;
constexpr int kIcmpDestUnreachable = 3;
constexpr int kIcmpSourceQuench = 4;
constexpr int kIcmpEcho = 8;
constexpr int kIcmpTimeExceeded = 11;
constexpr int kIcmpParameterProblem = 12;
constexpr int kIcmpHeaderSize = 8;
constexpr qint32 kTimedOut = 11010;
constexpr qint32 kGeneralFailure = 11050;
const char kPayload[] = "hello";
constexpr int kPayloadSize = 5;

quint16 ReadBig16(const uchar* p)
{
    return quint16((p[0] << 8) | p[1]);
}

quint32 ReadRaw32(const uchar* p)
{
    quint32 value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

int OpenIcmpSocket(int type)
{
    return ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
}

bool IsErrorType(int type)
{
    return type == kIcmpDestUnreachable || type == kIcmpSourceQuench || type == kIcmpTimeExceeded
        || type == kIcmpParameterProblem;
}

} // namespace

qint32 IcmpErrorToStatus(int icmpType, int icmpCode)
{
    switch (icmpType) {
    case kIcmpDestUnreachable:
        switch (icmpCode) {
        case 0:
        case 6:
        case 9:
        case 11: // net unreachable, unknown, prohibited, for this TOS
            return 11002;
        case 1:
        case 7:
        case 10:
        case 12: // the same for the host
            return 11003;
        case 2: return 11004;
        case 3: return 11005;
        case 4: return 11009; // fragmentation needed but DF set
        case 5: return 11012; // source route failed
        default: return 11018;
        }
    case kIcmpTimeExceeded: return icmpCode == 1 ? 11014 : icmpCode == 0 ? 11013 : kGeneralFailure;
    case kIcmpParameterProblem: return 11015;
    case kIcmpSourceQuench: return 11016;
    default: return kGeneralFailure;
    }
}

qint32 SendErrorToStatus(int errnoValue)
{
    switch (errnoValue) {
    case ENETUNREACH: return 11002;
    case EHOSTUNREACH: return 11003;
    case EMSGSIZE: return 11009;
    case ENOBUFS: return 11006;
    default: return kGeneralFailure;
    }
}

quint16 InternetChecksum(QByteArrayView bytes)
{
    quint32 sum = 0;
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    qsizetype n = bytes.size();
    for (; n > 1; n -= 2, p += 2)
        sum += ReadBig16(p);
    if (n == 1)
        sum += quint32(p[0]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

QByteArray IcmpEchoRequest(quint16 id, quint16 sequence)
{
    QByteArray packet(kIcmpHeaderSize + kPayloadSize, '\0');
    auto* p = reinterpret_cast<uchar*>(packet.data());
    p[0] = kIcmpEcho;
    p[4] = uchar(id >> 8);
    p[5] = uchar(id);
    p[6] = uchar(sequence >> 8);
    p[7] = uchar(sequence);
    std::memcpy(p + kIcmpHeaderSize, kPayload, kPayloadSize);
    const quint16 sum = InternetChecksum(packet);
    p[2] = uchar(sum >> 8);
    p[3] = uchar(sum);
    return packet;
}

RawIcmpVerdict ClassifyRawIcmp(QByteArrayView packet, quint32 target, quint16 id, quint16 sequence)
{
    const auto* p = reinterpret_cast<const uchar*>(packet.data());
    const qsizetype size = packet.size();
    if (size < 20 || (p[0] >> 4) != 4 || p[9] != IPPROTO_ICMP)
        return {};
    const qsizetype ipLength = (p[0] & 0x0F) * 4;
    if (ipLength < 20 || size < ipLength + kIcmpHeaderSize)
        return {};
    const uchar* icmp = p + ipLength;
    const int type = icmp[0];
    const int code = icmp[1];

    if (type == kIcmpEchoReply) {
        const bool ours = ReadRaw32(p + 12) == target && ReadBig16(icmp + 4) == id && ReadBig16(icmp + 6) == sequence;
        return ours ? RawIcmpVerdict {RawIcmpVerdict::EchoReply, type, code} : RawIcmpVerdict {};
    }
    if (!IsErrorType(type))
        return {};

    // An error quotes the IP header of the datagram that caused it and its first 8 payload bytes:
    // it is ours when that datagram was our echo request to the target.
    const uchar* quoted = icmp + kIcmpHeaderSize;
    const qsizetype quotedSize = size - ipLength - kIcmpHeaderSize;
    if (quotedSize < 20 || (quoted[0] >> 4) != 4)
        return {};
    const qsizetype quotedIpLength = (quoted[0] & 0x0F) * 4;
    if (quotedIpLength < 20 || quotedSize < quotedIpLength + kIcmpHeaderSize)
        return {};
    const uchar* quotedIcmp = quoted + quotedIpLength;
    const bool ours = quoted[9] == IPPROTO_ICMP && ReadRaw32(quoted + 16) == target && quotedIcmp[0] == kIcmpEcho
        && ReadBig16(quotedIcmp + 4) == id && ReadBig16(quotedIcmp + 6) == sequence;
    return ours ? RawIcmpVerdict {RawIcmpVerdict::Error, type, code} : RawIcmpVerdict {};
}

LinuxEchoService::LinuxEchoService(QObject* parent)
    : EchoService(parent), timeout_(new QTimer(this)), deferred_(new QTimer(this))
{
    qRegisterMetaType<nms::EchoReply>();
    timeout_->setSingleShot(true);
    timeout_->setTimerType(Qt::PreciseTimer);
    connect(timeout_, &QTimer::timeout, this, &LinuxEchoService::onTimeout);
    deferred_->setSingleShot(true);
    deferred_->setInterval(0);
    connect(deferred_, &QTimer::timeout, this, [this] { finish(deferredReply_); });
    sequence_ = quint16(QRandomGenerator::global()->generate());
}

LinuxEchoService::~LinuxEchoService()
{
    closeSocket();
}

bool LinuxEchoService::facilityAvailable()
{
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = OpenIcmpSocket(type);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

void LinuxEchoService::cancel()
{
    deferred_->stop();
    timeout_->stop();
    closeSocket();
}

void LinuxEchoService::send(const QString& address, int timeoutMs)
{
    cancel();
    lastKind_ = SocketKind::None;

    bool ok = false;
    target_ = Ipv4FromDottedText(address, &ok);
    if (!ok || target_ == 0 || target_ == 0xFFFFFFFFu) {
        reportLater(-1);
        return;
    }

    fd_ = OpenIcmpSocket(SOCK_DGRAM);
    kind_ = SocketKind::Datagram;
    if (fd_ < 0) {
        fd_ = OpenIcmpSocket(SOCK_RAW);
        kind_ = SocketKind::Raw;
    }
    if (fd_ < 0) {
        kind_ = SocketKind::None;
        reportLater(-1);
        return;
    }
    lastKind_ = kind_;

    if (kind_ == SocketKind::Datagram) {
        // ICMP errors about our request reach a datagram socket only through its error queue.
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    } else {
        // Let through only what can answer an echo; the kernel then spares us every other packet.
        icmp_filter filter {};
        filter.data = ~((1u << kIcmpEchoReply) | (1u << kIcmpDestUnreachable) | (1u << kIcmpSourceQuench)
                        | (1u << kIcmpTimeExceeded) | (1u << kIcmpParameterProblem));
        ::setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }

    id_ = quint16(QRandomGenerator::global()->generate());
    ++sequence_;
    const QByteArray packet = IcmpEchoRequest(id_, sequence_);

    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target_;
    sentAt_.start();
    const ssize_t sent =
        ::sendto(fd_, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0) {
        const int error = errno;
        closeSocket();
        reportLater(SendErrorToStatus(error));
        return;
    }

    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &LinuxEchoService::onReadable);
    timeout_->start(qMax(timeoutMs, 0));
}

void LinuxEchoService::reportLater(qint32 status)
{
    deferredReply_ = EchoReply {status, 0};
    deferred_->start();
}

void LinuxEchoService::onReadable()
{
    if (fd_ < 0)
        return;
    if (kind_ == SocketKind::Datagram)
        drainErrorQueue();
    if (fd_ >= 0)
        drainPackets();
}

void LinuxEchoService::drainErrorQueue()
{
    // The socket carries only this probe, so any queued error is about our request.
    for (;;) {
        uchar data[64];
        alignas(cmsghdr) char control[512];
        sockaddr_in from {};
        iovec iov {data, sizeof data};
        msghdr msg {};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                continue;
            sock_extended_err err;
            std::memcpy(&err, CMSG_DATA(c), sizeof err);
            if (err.ee_origin == SO_EE_ORIGIN_ICMP) {
                finish(EchoReply {IcmpErrorToStatus(err.ee_type, err.ee_code), 0});
                return;
            }
            if (err.ee_origin == SO_EE_ORIGIN_LOCAL) {
                finish(EchoReply {SendErrorToStatus(int(err.ee_errno)), 0});
                return;
            }
        }
    }
}

void LinuxEchoService::drainPackets()
{
    for (;;) {
        uchar data[600];
        sockaddr_in from {};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, data, sizeof data, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return;
        if (kind_ == SocketKind::Datagram) {
            // The kernel delivers only replies carrying this socket's identifier.
            const bool ours = n >= kIcmpHeaderSize && data[0] == kIcmpEchoReply && from.sin_addr.s_addr == target_
                && ReadBig16(data + 6) == sequence_;
            if (ours) {
                finish(EchoReply {0, quint32(sentAt_.nsecsElapsed() / 1000000)});
                return;
            }
            continue;
        }
        const RawIcmpVerdict verdict = ClassifyRawIcmp(QByteArrayView(data, n), target_, id_, sequence_);
        if (verdict.kind == RawIcmpVerdict::EchoReply) {
            finish(EchoReply {0, quint32(sentAt_.nsecsElapsed() / 1000000)});
            return;
        }
        if (verdict.kind == RawIcmpVerdict::Error) {
            finish(EchoReply {IcmpErrorToStatus(verdict.type, verdict.code), 0});
            return;
        }
    }
}

void LinuxEchoService::onTimeout()
{
    finish(EchoReply {kTimedOut, 0});
}

void LinuxEchoService::finish(EchoReply reply)
{
    // Release everything first: a receiver may start the next probe from its slot.
    timeout_->stop();
    deferred_->stop();
    closeSocket();
    Q_EMIT finished(reply);
}

void LinuxEchoService::closeSocket()
{
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater(); // may be inside its own activated() signal
        notifier_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    kind_ = SocketKind::None;
}

} // namespace nms
