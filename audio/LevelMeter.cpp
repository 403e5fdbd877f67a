#include "audio/LevelMeter.h"

#include "link/Datagrams.h"

#include <cmath>

namespace nms {

namespace {

// A value held in tenths, in its shortest decimal form: -277 gives "-27.7", -10 gives "-1".
QString TenthsText(long tenths, const QLocale& locale)
{
    const bool negative = tenths < 0;
    const long magnitude = negative ? -tenths : tenths;
    QString text;
    if (negative)
        text.append(u'-');
    text.append(QString::number(magnitude / 10));
    if (magnitude % 10 != 0) {
        text.append(locale.decimalPoint());
        text.append(QChar(u'0' + char16_t(magnitude % 10)));
    }
    return text;
}

} // namespace

AudioLevel ComputeAudioLevel(const QByteArray& samples, const QLocale& locale)
{
    AudioLevel level {LevelSamplesPeak(samples), 0, 0, QString()};
    if (level.peak == 0) {
        level.caption = QStringLiteral("-oo dB");
        return level;
    }
    const double ratio = double(level.peak) / double(LevelFullScale);
    // nearbyint rounds halves to even under the default rounding mode.
    level.widthTwips = int(std::nearbyint(ratio * LevelMeterFullTwips));
    // 15 is odd, so a whole number of twips is never exactly half-way between two pixels.
    level.widthPixels = (level.widthTwips + TwipsPerPixel / 2) / TwipsPerPixel;
    // The peak is below full scale, so the decibels are never positive; 0 tenths prints "0".
    const long tenths = std::lrint(40.0 * std::log(ratio) * 10.0);
    level.caption = TenthsText(tenths, locale) + QStringLiteral("dB");
    return level;
}

} // namespace nms
