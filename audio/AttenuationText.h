#pragma once

#include <QLocale>
#include <QString>

namespace nms {

// The slider position that stands for 0 dB; each step below it is 0.5 dB more attenuation.
constexpr int AttenuationZeroDb = 255;
// The slider's lowest position, which means mute; a decoder reporting less is shown and stored
// at this.
constexpr int AttenuationMinimum = 14;

// "Mute" at the slider's minimum, otherwise (value - 255) * 0.5 as e.g. "-0.5 dB".
QString AttenuationCaption(int value, int minimum, const QLocale& locale = QLocale());

} // namespace nms
