#include "audio/LevelMeter.h"

#include "link/Datagrams.h"

#include <cmath>

namespace nms {

namespace {

constexpr int kSampleWidth = 3;
// The element's last sample is never examined: only 479 of the 480 triples count.
constexpr int kExaminedSamples = LevelSamplesLength / kSampleWidth - 1;
// The element pads with 04 04 04 (FB FB FB before complementing); it means silence.
constexpr quint32 SilencePattern = 0x040404;

quint32 PeakMagnitude(const QByteArray& samples)
{
    const auto* bytes = reinterpret_cast<const quint8*>(samples.constData());
    const qsizetype available = samples.size() / kSampleWidth;
    const qsizetype count = available < kExaminedSamples ? available : kExaminedSamples;
    quint32 peak = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const quint8* triple = bytes + i * kSampleWidth;
        quint32 sample = (quint32(triple[0]) << 16) | (quint32(triple[1]) << 8) | triple[2];
        // A negative sample s has magnitude -s - 1: the complement of all its bits.
        if (sample & 0x800000)
            sample ^= 0xFFFFFF;
        if (sample == SilencePattern)
            sample = 0;
        if (sample > peak)
            peak = sample;
    }
    return peak;
}

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
    AudioLevel level {PeakMagnitude(samples), 0, 0, QString()};
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
