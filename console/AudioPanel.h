#pragma once
// The audio controls of the detail panel: a decoder's attenuation slider, sent and stored as the
// operator moves it, and an encoder's level meter with its start and stop pictures.

#include <QObject>

class QCheckBox;
class QScrollBar;

namespace nms {

class ConsoleCore;
class Label;
class LevelBar;
class Picture;
struct AudioLevel;

struct AudioControls {
    QScrollBar* scrlAtten = nullptr;
    Label* lblAttenDB = nullptr;
    QCheckBox* chkGetVolume = nullptr;
    Picture* imgPlay = nullptr;
    Picture* imgStop = nullptr;
    LevelBar* VUMeter = nullptr;
    Label* lblVolume = nullptr;
};

class AudioPanel : public QObject {
    Q_OBJECT
public:
    AudioPanel(const AudioControls& controls, ConsoleCore& core, QObject* parent = nullptr);

    // A decoder's attenuation on the slider as the program's move: shown, never sent.
    void showAttenuation(int value);

    void scrlAtten_Change(int value);
    void imgPlay_Click();
    void imgStop_Click();
    void chkGetVolume_Click(bool checked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Another element or role: the audio rows laid out for it, the meter stopped.
    void layOutForElement();
    // The element shown, also reloaded: a decoder's stored attenuation.
    void showSelection();
    void showMonitoring(bool on);
    void showLevel(const AudioLevel& level);

    AudioControls c_;
    ConsoleCore& core_;
    bool applying_ = false; // the program is moving the slider, not the operator
};

} // namespace nms
