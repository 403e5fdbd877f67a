#pragma once
// The ping area's logic: one echo probe of an address, its outcome as a look (green, red, not
// probed) and a caption, and after a time-out a three-second countdown before the next probe.
// The window draws what displayChanged() says; nothing here reads a caption back.

#include <QObject>
#include <QString>

#include <functional>

#include "base/Timing.h"
#include "services/EchoService.h"

class QTimer;

namespace nms {

class Notices;

class EchoProbe : public QObject {
    Q_OBJECT
public:
    enum class Look { NotProbed, Answered, Failed };

    EchoProbe(EchoService* echo, Notices& notices, const Timing& timing, QObject* parent = nullptr);

    // Where the retry finds the address to probe again: the editor's address box as it is then.
    void setRetryAddress(std::function<QString()> source) { retryAddress_ = std::move(source); }

    // Starts one probe (a malformed address: nothing at all); the outcome is shown when the
    // answer or the wait is over. A new probe supersedes one in flight and its countdown.
    void PingElement(const QString& address);
    // The look of an element not probed yet, keeping the caption (a selection's first step).
    void markNotProbed();
    // Drops the probe in flight and the countdown; the area shows "<Unknown>", not probed.
    void cancel();

    void resetRetryCountdown() { PingRetryCountdown = 3; }

    // The sockets layer answers: an IPv4 socket can be opened at all.
    static bool StartSockets();
    static void StopSockets();

    Look look() const { return look_; }
    QString caption() const { return caption_; }
    bool probing() const { return probing_; }
    bool countingDown() const;
    qint16 PingRetryCountdown = 3;

Q_SIGNALS:
    void displayChanged(nms::EchoProbe::Look look, const QString& caption);

private:
    void showReply(const EchoReply& reply);
    void show(Look look, const QString& caption);
    void tmrRetryPing_Timer();

    EchoService* echo_;
    Notices& notices_;
    Timing timing_;
    QTimer* tmrRetryPing_;
    std::function<QString()> retryAddress_;
    Look look_ = Look::NotProbed;
    QString caption_ = QStringLiteral("<Unknown>");
    bool probing_ = false;
};

} // namespace nms
