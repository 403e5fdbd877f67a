#pragma once
// The audio controls of the detail panel: a decoder's attenuation slider, sent and stored as the
// operator moves it, and an encoder's level meter, polled while monitoring is on.

#include <QByteArray>
#include <QObject>

namespace nms {

class FrmMain;

class AudioControls : public QObject {
    Q_OBJECT
public:
    explicit AudioControls(FrmMain& window);

    void scrlAtten_Change(int value);
    void imgPlay_Click();
    void imgStop_Click();
    void chkGetVolume_Click(bool checked);
    void tmrVolume_Timer();
    // Draws the peak of one LevelSamples datagram as bar width and decibel text.
    void ShowAudioLevel(const QByteArray& datagram);

    // The two commands to the selected element; false when the link could not send.
    bool Send_Attenuation(quint8 code);
    bool Send_LevelQuery();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FrmMain& w;
    bool querying_ = false;
};

} // namespace nms
