#include "console/AudioPanel.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QScrollBar>

#include "app/ConsoleCore.h"
#include "audio/AttenuationText.h"
#include "audio/LevelMeter.h"
#include "console/Controls.h"

namespace nms {

AudioPanel::AudioPanel(const AudioControls& controls, ConsoleCore& core, QObject* parent)
    : QObject(parent), c_(controls), core_(core)
{
    connect(c_.scrlAtten, &QScrollBar::valueChanged, this, &AudioPanel::scrlAtten_Change);
    c_.scrlAtten->installEventFilter(this);
    connect(c_.imgPlay, &Picture::clicked, this, &AudioPanel::imgPlay_Click);
    connect(c_.imgStop, &Picture::clicked, this, &AudioPanel::imgStop_Click);
    connect(c_.chkGetVolume, &QCheckBox::toggled, this, &AudioPanel::chkGetVolume_Click);
    connect(&core_.audio, &AudioMonitor::monitoringChanged, this, &AudioPanel::showMonitoring);
    connect(&core_.audio, &AudioMonitor::levelChanged, this, &AudioPanel::showLevel);
    connect(&core_.state, &ConsoleState::elementChanged, this, &AudioPanel::layOutForElement);
    connect(&core_.state, &ConsoleState::selectionChanged, this, &AudioPanel::showSelection);
}

bool AudioPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the window is being destroyed its children still send events here,
    // and the window's members must not be touched then.
    if (event->type() != QEvent::KeyPress || watched != c_.scrlAtten)
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
    c_.scrlAtten->triggerAction(action);
    return true;
}

void AudioPanel::layOutForElement()
{
    const bool decoder = core_.state.role() == ElementRole::Decoder;
    c_.scrlAtten->setVisible(decoder);
    c_.lblAttenDB->setVisible(decoder);
    // The meter of the element shown before has been stopped by the core.
    c_.chkGetVolume->hide();
    c_.imgPlay->setVisible(!decoder);
    c_.imgStop->hide();
    c_.VUMeter->setVisible(!decoder);
    c_.VUMeter->setBarWidth(0);
    c_.lblVolume->setVisible(!decoder);
    c_.lblVolume->setCaption(QStringLiteral("---"));
}

void AudioPanel::showSelection()
{
    if (core_.state.role() != ElementRole::Decoder)
        return;
    // A missing, non-numeric or out-of-range attenuation leaves the slider where it is.
    bool ok = false;
    const int att = core_.state.selected().att.toInt(&ok);
    if (ok && att >= AttenuationMinimum && att <= AttenuationZeroDb)
        showAttenuation(att);
}

void AudioPanel::showAttenuation(int value)
{
    applying_ = true;
    c_.scrlAtten->setValue(value);
    applying_ = false;
}

void AudioPanel::scrlAtten_Change(int value)
{
    c_.lblAttenDB->setCaption(AttenuationCaption(value, AttenuationMinimum));
    // Only the operator's own moves reach the element; the program's only redraw.
    if (applying_ || core_.state.role() != ElementRole::Decoder || !c_.scrlAtten->hasFocus())
        return;
    core_.audio.setAttenuation(value);
}

void AudioPanel::imgPlay_Click()
{
    c_.chkGetVolume->setChecked(true);
}

void AudioPanel::imgStop_Click()
{
    c_.chkGetVolume->setChecked(false);
}

void AudioPanel::chkGetVolume_Click(bool checked)
{
    if (checked)
        core_.audio.start();
    else
        core_.audio.stop();
}

void AudioPanel::showMonitoring(bool on)
{
    {
        const QSignalBlocker blocker(c_.chkGetVolume);
        c_.chkGetVolume->setChecked(on);
    }
    c_.imgStop->setVisible(on);
    c_.imgPlay->setVisible(!on && core_.state.role() != ElementRole::Decoder);
    if (!on) {
        c_.lblVolume->setCaption(QStringLiteral("---"));
        c_.VUMeter->setBarWidth(0);
    }
}

void AudioPanel::showLevel(const AudioLevel& level)
{
    c_.VUMeter->setBarWidth(level.widthPixels);
    c_.lblVolume->setCaption(level.caption);
}

} // namespace nms
