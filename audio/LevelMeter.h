#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QtGlobal>

#include "link/Datagrams.h"

namespace nms {

// The meter bar is 2100 twips (140 pixels at 96 dpi) at full scale.
constexpr int LevelMeterFullTwips = 2100;
constexpr int TwipsPerPixel = 15;

struct AudioLevel {
    quint32 peak;
    int widthTwips;
    int widthPixels;
    QString caption;
};

// The loudest magnitude of a LevelSamples datagram (1440 bytes of signed 24-bit samples, most
// significant byte first) as bar width and "<n>dB" caption; "-oo dB" and width 0 for silence.
AudioLevel ComputeAudioLevel(const QByteArray& samples, const QLocale& locale = QLocale());

} // namespace nms
