#pragma once
// An echo service the test scripts: every probe is recorded, and answered with the scripted
// reply after the scripted delay (or only when the test releases it).

#include <QList>
#include <QQueue>
#include <QStringList>

#include "services/EchoService.h"

class QTimer;

namespace nms::test {

class FakeEchoService final : public EchoService {
    Q_OBJECT
public:
    explicit FakeEchoService(QObject* parent = nullptr);

    void send(const QString& address, int timeoutMs = 1000) override;
    void cancel() override;
    bool facilityAvailable() override { return true; }

    // The reply for every probe that has no queued reply of its own.
    void setReply(EchoReply reply) { reply_ = reply; }
    void setReply(qint32 status, quint32 roundTripMs = 0) { reply_ = EchoReply {status, roundTripMs}; }
    // Replies for the next probes, one each, before the standing reply applies again.
    void queueReply(qint32 status, quint32 roundTripMs = 0) { queued_.enqueue(EchoReply {status, roundTripMs}); }
    // How long a probe waits before it is answered; a negative delay holds it until release().
    void setDelayMs(int ms) { delayMs_ = ms; }
    // Answers the probe in flight now; false when none is waiting.
    bool release();

    QStringList addresses; // every address sent to, in order
    QList<int> timeouts; // the wait each probe asked for
    int answered = 0;
    bool inFlight() const;

private:
    void answer();

    QTimer* timer_;
    EchoReply reply_ {11010, 0};
    QQueue<EchoReply> queued_;
    EchoReply pending_;
    bool waiting_ = false;
    int delayMs_ = 0;
};

} // namespace nms::test
