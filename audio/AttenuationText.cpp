#include "audio/AttenuationText.h"

namespace nms {

QString AttenuationCaption(int value, int minimum, const QLocale& locale)
{
    if (value == minimum)
        return QStringLiteral("Mute");
    // Work in half-decibel steps so the text is exact and never carries a group separator.
    const int halves = value - AttenuationZeroDb;
    const bool negative = halves < 0;
    const int magnitude = negative ? -halves : halves;
    QString text;
    if (negative)
        text.append(u'-');
    text.append(QString::number(magnitude / 2));
    if (magnitude % 2 != 0) {
        text.append(locale.decimalPoint());
        text.append(u'5');
    }
    text.append(QStringLiteral(" dB"));
    return text;
}

} // namespace nms
