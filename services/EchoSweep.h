#pragma once
// Echo requests to many addresses from one ICMP socket, for watching every element at once. A
// request is never reported as lost: whoever sends decides when an answer is late.

#include <QElapsedTimer>
#include <QObject>

#include <vector>

class QSocketNotifier;

namespace nms {

class EchoSweep : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // One echo request to an IPv4 address in network order (as Ipv4FromDottedText gives it).
    // False when it could not be sent (no ICMP socket, or the kernel refused it at once).
    virtual bool send(quint32 address) = 0;
    // The socket closes; requests in flight are forgotten.
    virtual void close() = 0;

Q_SIGNALS:
    // An answer to the latest request to that address, with its round trip.
    void replied(quint32 address, double roundTripMs);
};

// The unprivileged ICMP datagram socket where allowed (net.ipv4.ping_group_range), else a raw one
// (root or CAP_NET_RAW); opened at the first request and kept.
class LinuxEchoSweep final : public EchoSweep {
    Q_OBJECT
public:
    explicit LinuxEchoSweep(QObject* parent = nullptr);
    ~LinuxEchoSweep() override;

    bool send(quint32 address) override;
    void close() override;

private:
    bool open();
    void drain();

    struct Slot {
        quint32 address = 0;
        qint64 sentNs = 0;
    };
    int fd_ = -1;
    bool raw_ = false;
    quint16 id_ = 0;
    quint16 sequence_ = 0;
    // One slot per sequence number: an answer counts when it comes from the address its
    // sequence number was last sent to.
    std::vector<Slot> slots_;
    QElapsedTimer clock_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace nms
