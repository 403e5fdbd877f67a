#include "console/AudioControls.h"

#include <QKeyEvent>

#include "console/AttenuationText.h"
#include "console/LevelMeter.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

AudioControls::AudioControls(FrmMain& window) : QObject(&window), w(window)
{
    connect(w.scrlAtten, &QScrollBar::valueChanged, this, &AudioControls::scrlAtten_Change);
    w.scrlAtten->installEventFilter(this);
    connect(w.imgPlay, &Picture::clicked, this, &AudioControls::imgPlay_Click);
    connect(w.imgStop, &Picture::clicked, this, &AudioControls::imgStop_Click);
    connect(w.chkGetVolume, &QCheckBox::toggled, this, &AudioControls::chkGetVolume_Click);
    connect(w.tmrVolume, &QTimer::timeout, this, &AudioControls::tmrVolume_Timer);
    connect(w.link, &LinkEndpoint::levelSamplesArrived, this, &AudioControls::ShowAudioLevel);
}

bool AudioControls::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the window is being destroyed its children still send events here,
    // and the window's members must not be touched then.
    if (event->type() != QEvent::KeyPress || watched != w.scrlAtten)
        return QObject::eventFilter(watched, event);
    // The keys of a desktop horizontal scroll bar: left, up and page up lower the value, right,
    // down and page down raise it. Qt's scroll bar turns the arrows around (its controls are
    // inverted for the wheel's sake), which would move the thumb against the key.
    QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: action = QAbstractSlider::SliderSingleStepSub; break;
    case Qt::Key_Right:
    case Qt::Key_Down: action = QAbstractSlider::SliderSingleStepAdd; break;
    case Qt::Key_PageUp: action = QAbstractSlider::SliderPageStepSub; break;
    case Qt::Key_PageDown: action = QAbstractSlider::SliderPageStepAdd; break;
    case Qt::Key_Home: action = QAbstractSlider::SliderToMinimum; break;
    case Qt::Key_End: action = QAbstractSlider::SliderToMaximum; break;
    default: return QObject::eventFilter(watched, event);
    }
    w.scrlAtten->triggerAction(action);
    return true;
}

void AudioControls::scrlAtten_Change(int value)
{
    w.lblAttenDB->setCaption(AttenuationCaption(value, w.scrlAtten->minimum()));

    // Only the operator's own moves reach the element: the program moves the slider while the
    // focus is elsewhere (loading an element, storing its answer), and those only redraw.
    if (w.lblElementType->caption() != QStringLiteral("DECODER") || !w.scrlAtten->hasFocus())
        return;
    // Stored only once the element has been told, so the database never holds a value the
    // element did not get.
    if (!Send_Attenuation(quint8(value)))
        return;
    const QString key = MacTextToKey(w.lblElementMAC->caption());
    if (!WriteToINI(key, QLatin1String(ElementKeys::att), QString::number(value), w.databasePath()))
        w.messages().error(QStringLiteral("Error!"),
                           QStringLiteral("The local database in your computer could not be written!\r"
                                          "The attenuation was sent but not stored."));
}

bool AudioControls::Send_Attenuation(quint8 code)
{
    return w.link->SendToSelected(BuildAttenuationCommand(code), w.environment().commandPort, false);
}

bool AudioControls::Send_LevelQuery()
{
    return w.link->SendToSelected(LevelQuery(), w.environment().commandPort, false);
}

void AudioControls::imgPlay_Click()
{
    w.chkGetVolume->setChecked(true);
    w.imgStop->show();
    w.imgPlay->hide();
}

void AudioControls::imgStop_Click()
{
    w.chkGetVolume->setChecked(false);
    w.imgStop->hide();
    w.imgPlay->show();
}

void AudioControls::chkGetVolume_Click(bool checked)
{
    if (checked) {
        w.tmrVolume->start();
        return;
    }
    w.tmrVolume->stop();
    w.lblVolume->setCaption(QStringLiteral("---"));
    w.VUMeter->setBarWidth(0);
}

void AudioControls::tmrVolume_Timer()
{
    // A failed send shows its error in a modal box, whose own event loop keeps this timer
    // ticking: those ticks are skipped, and the failure ends the monitoring instead of raising
    // one box per tick.
    if (querying_)
        return;
    querying_ = true;
    const bool sent = Send_LevelQuery();
    querying_ = false;
    if (!sent && w.chkGetVolume->isChecked())
        imgStop_Click();
}

void AudioControls::ShowAudioLevel(const QByteArray& datagram)
{
    // An answer still in flight when the operator stopped the meter must not draw over "---".
    if (!w.chkGetVolume->isChecked())
        return;
    const AudioLevel level = ComputeAudioLevel(datagram);
    w.VUMeter->setBarWidth(level.widthPixels);
    w.lblVolume->setCaption(level.caption);
}

} // namespace nms
