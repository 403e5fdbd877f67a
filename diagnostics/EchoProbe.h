#pragma once
// The ping area: one echo probe of an address, its result in green or red, and for a time-out a
// three-second countdown on the label before the next probe.

#include <QObject>

#include "platform/EchoService.h"

namespace nms {

class FrmMain;

class EchoProbe : public QObject {
    Q_OBJECT
public:
    explicit EchoProbe(FrmMain& window);

    // Starts one probe; the result is shown when the answer or the 1000 ms wait is over. The
    // window stays live meanwhile, and a newer probe supersedes one still waiting.
    void PingElement(const QString& address);
    void lblPing_Change(const QString& caption);
    void tmrRetryPing_Timer();

    // The sockets layer answers: an IPv4 socket can be opened at all.
    static bool StartSockets();
    static void StopSockets();

    bool probing() const { return probing_; }

private:
    void showReply(const EchoReply& reply);

    FrmMain& w;
    bool probing_ = false;
};

} // namespace nms
