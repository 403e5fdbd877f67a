#pragma once
// The audio functions of the element shown: a decoder's attenuation, sent and then stored as the
// operator sets it, and an encoder's level monitoring, which asks for samples every level period
// (tmrVolume) and turns every answer into a level while it is on.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include "audio/LevelMeter.h"
#include "base/Timing.h"

class QTimer;

namespace nms {

class ConsoleState;
class ElementStore;
class ElementSender;
class Notices;

class AudioMonitor : public QObject {
    Q_OBJECT
public:
    AudioMonitor(ElementSender& sender, const ConsoleState& state, ElementStore& store, Notices& notices,
                 const Timing& timing, QObject* parent = nullptr);

    void start();
    void stop();
    bool monitoring() const { return monitoring_; }

    // The operator set a decoder's attenuation: sent to it, and stored only once it is sent.
    void setAttenuation(int value);

    // The two commands to the selected element; false when the link could not send.
    bool Send_Attenuation(quint8 code);
    bool Send_LevelQuery();

    // One LevelSamples datagram: a level while monitoring is on, when it comes from the stored
    // address of the element shown (an answer still in flight when monitoring stopped, and every
    // other encoder's answers, are ignored).
    void ShowAudioLevel(const QByteArray& datagram, const QHostAddress& sender);

Q_SIGNALS:
    void monitoringChanged(bool on);
    void levelChanged(const nms::AudioLevel& level);
    // The operator's attenuation went out to the element shown.
    void attenuationSent(int value);

private:
    void tmrVolume_Timer();

    ElementSender& sender_;
    const ConsoleState& state_;
    ElementStore& store_;
    Notices& notices_;
    QTimer* tmrVolume_;
    bool monitoring_ = false;
};

} // namespace nms
