#pragma once

// ICMP echo for the reachability probe. The probe asks for one echo and is told the outcome later
// through a signal, so the window stays responsive for the whole wait.

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace nms {

// status: an IP status code as the probe's status texts know them (0 success, 11002..11050),
// or -1 when the address cannot be used or no ICMP socket can be opened.
struct EchoReply {
    qint32 status = -1;
    quint32 roundTripMs = 0;
};

class EchoService : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Sends one echo request (payload "hello") to the dotted-quad address; finished() comes exactly
    // once, and never from inside send(). A send while another is in flight supersedes it: the
    // older one never reports.
    virtual void send(const QString& address, int timeoutMs = 1000) = 0;
    // Drops the probe in flight, if any, without reporting it.
    virtual void cancel() = 0;
    // Whether an ICMP socket of either kind can be opened at all.
    virtual bool facilityAvailable() = 0;
Q_SIGNALS:
    void finished(nms::EchoReply reply);
};

// Prefers the unprivileged ICMP datagram socket (allowed by net.ipv4.ping_group_range) and falls
// back to a raw socket, which needs root or CAP_NET_RAW. One socket per probe, closed as soon as
// the probe ends.
class LinuxEchoService final : public EchoService {
    Q_OBJECT
public:
    enum class SocketKind { None, Datagram, Raw };

    explicit LinuxEchoService(QObject* parent = nullptr);
    ~LinuxEchoService() override;

    void send(const QString& address, int timeoutMs = 1000) override;
    void cancel() override;
    bool facilityAvailable() override;

    // The kind of socket the most recent probe opened (None when it opened none).
    SocketKind lastSocketKind() const { return lastKind_; }

private:
    void onReadable();
    void onTimeout();
    void drainErrorQueue();
    void drainPackets();
    void finish(EchoReply reply);
    void reportLater(qint32 status);
    void closeSocket();

    int fd_ = -1;
    SocketKind kind_ = SocketKind::None;
    SocketKind lastKind_ = SocketKind::None;
    quint32 target_ = 0; // network order
    quint16 id_ = 0;
    quint16 sequence_ = 0;
    QElapsedTimer sentAt_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* timeout_ = nullptr;
    QTimer* deferred_ = nullptr; // carries results known at send time out of send()
    EchoReply deferredReply_;
};

// An ICMP error answer (type, code) as an IP status code.
qint32 IcmpErrorToStatus(int icmpType, int icmpCode);

// A local error while sending (errno) as an IP status code.
qint32 SendErrorToStatus(int errnoValue);

// What one packet read from a raw ICMP socket (IP header included) means for the probe that sent
// echo (id, sequence) to target. Raw sockets see every ICMP packet of the host, so anything not
// answering our own request is Unrelated.
struct RawIcmpVerdict {
    enum Kind { Unrelated, EchoReply, Error };
    Kind kind = Unrelated;
    int type = 0;
    int code = 0;
};
RawIcmpVerdict ClassifyRawIcmp(QByteArrayView packet, quint32 target, quint16 id, quint16 sequence);

// The Internet checksum (RFC 1071) of the bytes, ready to store in a header.
quint16 InternetChecksum(QByteArrayView bytes);

// An ICMP echo request (payload "hello") with its checksum; the kernel fills identifier and
// checksum again itself on a datagram socket, a raw one sends these bytes.
QByteArray IcmpEchoRequest(quint16 id, quint16 sequence);

} // namespace nms

Q_DECLARE_METATYPE(nms::EchoReply)
