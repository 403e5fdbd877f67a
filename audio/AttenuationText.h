#pragma once

#include <QLocale>
#include <QString>

#include "link/Datagrams.h"

namespace nms {

// "Mute" at the slider's minimum, otherwise (value - 255) * 0.5 as e.g. "-0.5 dB".
QString AttenuationCaption(int value, int minimum, const QLocale& locale = QLocale());

} // namespace nms
