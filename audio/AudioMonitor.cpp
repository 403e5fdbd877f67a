#include "audio/AudioMonitor.h"

#include <QTimer>
#include <QtEndian>

#include "base/AddressText.h"

#include "base/Notices.h"
#include "database/ElementRecords.h"
#include "database/ElementStore.h"
#include "link/Datagrams.h"
#include "session/ConsoleState.h"
#include "session/ElementSender.h"

namespace nms {

AudioMonitor::AudioMonitor(ElementSender& sender, const ConsoleState& state, ElementStore& store, Notices& notices,
                           const Timing& timing, QObject* parent)
    : QObject(parent), sender_(sender), state_(state), store_(store), notices_(notices), tmrVolume_(new QTimer(this))
{
    tmrVolume_->setInterval(timing.levelPeriodMs);
    connect(tmrVolume_, &QTimer::timeout, this, &AudioMonitor::tmrVolume_Timer);
}

void AudioMonitor::start()
{
    tmrVolume_->start();
    if (!monitoring_) {
        monitoring_ = true;
        Q_EMIT monitoringChanged(true);
    }
}

void AudioMonitor::stop()
{
    tmrVolume_->stop();
    if (monitoring_) {
        monitoring_ = false;
        Q_EMIT monitoringChanged(false);
    }
}

bool AudioMonitor::Send_Attenuation(quint8 code)
{
    return sender_.SendToSelected(BuildAttenuationCommand(code), sender_.ports().command, false);
}

bool AudioMonitor::Send_LevelQuery()
{
    return sender_.SendToSelected(LevelQuery(), sender_.ports().command, false);
}

void AudioMonitor::setAttenuation(int value)
{
    // The database never holds a value the element was not sent.
    if (!Send_Attenuation(quint8(value)))
        return;
    Q_EMIT attenuationSent(value);
    if (!store_.write(state_.selectedKey(), {{QLatin1String(ElementKeys::att), QString::number(value)}}))
        notices_.error(QStringLiteral("Error!"),
                       QStringLiteral("The local database (%1) could not be written.").arg(store_.path())
                           + QStringLiteral("\rThe attenuation was sent but not stored."));
}

void AudioMonitor::tmrVolume_Timer()
{
    // A query that cannot be sent ends the monitoring: one notice, not twenty a second.
    if (!Send_LevelQuery())
        stop();
}

void AudioMonitor::ShowAudioLevel(const QByteArray& datagram, const QHostAddress& sender)
{
    if (!monitoring_)
        return;
    // Other encoders answer the monitor's queries on the same port: only the element shown
    // draws on its meter.
    bool ok = false;
    const quint32 shown = Ipv4FromDottedText(state_.selected().ip, &ok);
    bool isV4 = false;
    const quint32 from = qToBigEndian(sender.toIPv4Address(&isV4));
    if (!ok || !isV4 || from != shown)
        return;
    Q_EMIT levelChanged(ComputeAudioLevel(datagram));
}

} // namespace nms
