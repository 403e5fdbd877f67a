#include "link/Datagrams.h"

#include "base/AddressText.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace nms {

namespace {

QString Fitted(QString text)
{
    if (text.size() < ElementNameWidth)
        text += QString(ElementNameWidth - text.size(), QLatin1Char(' '));
    text.truncate(ElementNameWidth);
    return text;
}

} // namespace

QString FitElementName(const QString& text)
{
    // Upper-casing can lengthen a text (a sharp s becomes two letters), so fit once more after it.
    return Fitted(Fitted(text).toUpper());
}

namespace {

void AppendAddress(QByteArray& out, const QString& dotted)
{
    const QStringList parts = SplitDotted(dotted);
    for (int k = 0; k < AddressWidth; ++k) {
        quint8 value = 0;
        if (k < parts.size() && !DottedPartToByte(parts.at(k), &value))
            value = 0;
        out.append(static_cast<char>(value));
    }
}

char SelectorByte(int position)
{
    return static_cast<char>(static_cast<quint8>(position));
}

} // namespace

QByteArray PagingRequest()
{
    return QByteArrayLiteral("DIZEZIZI KESTRION PAGING REQUEST");
}

QByteArray BuildConfigWrite(const ConfigFields& fields)
{
    QByteArray out;
    out.reserve(ConfigWriteLength);
    AppendAddress(out, fields.ip);
    AppendAddress(out, fields.mask);
    AppendAddress(out, fields.gw);
    AppendAddress(out, fields.remote);
    out.append(SelectorByte(fields.input));
    out.append(SelectorByte(fields.type));
    out.append(SelectorByte(fields.tx));
    const QString name = FitElementName(fields.name);
    for (int i = 0; i < ElementNameWidth; ++i) {
        const char16_t code = i < name.size() ? name.at(i).unicode() : u' ';
        out.append(static_cast<char>(code & 0xFF));
    }
    return out;
}

QByteArray BuildAttenuationCommand(quint8 code)
{
    QByteArray out(AttenuationCommandLength, '\0');
    out[0] = static_cast<char>(code);
    return out;
}

QByteArray LevelQuery()
{
    return QByteArrayLiteral("VOL");
}

DatagramKind ClassifyDatagram(qsizetype length)
{
    if (length == LevelSamplesLength)
        return DatagramKind::LevelSamples;
    if (length == ShortReplyLength)
        return DatagramKind::ShortReply;
    if (length == FeedbackLength || length == FeedbackWithAttenuationLength)
        return DatagramKind::Feedback;
    // Other short datagrams mean nothing, and longer ones are not read at all.
    return DatagramKind::Dropped;
}

namespace {

constexpr int kSampleWidth = 3;
// The element's last sample is never examined: only 479 of the 480 triples count.
constexpr int kExaminedSamples = LevelSamplesLength / kSampleWidth - 1;
// The element pads with 04 04 04 (FB FB FB before complementing); it means silence.
constexpr quint32 kSilencePattern = 0x040404;

} // namespace

quint32 LevelSamplesPeak(const QByteArray& samples)
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
        if (sample == kSilencePattern)
            sample = 0;
        if (sample > peak)
            peak = sample;
    }
    return peak;
}

double PeakDbfs(quint32 peak)
{
    if (peak == 0)
        return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(double(peak) / double(LevelFullScale));
}

} // namespace nms
