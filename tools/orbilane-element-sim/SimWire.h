#pragma once
// Byte layouts of the datagrams an element exchanges with the console, written from the
// element's side. Kept apart from the console's codec on purpose.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace sim {

inline constexpr char kPagingRequest[] = "DIZEZIZI KESTRION PAGING REQUEST";
inline constexpr int kPagingRequestLength = 32;
inline constexpr int kConfigWriteLength = 35;
inline constexpr int kNameLength = 16;
inline constexpr int kFeedbackShort = 40;
inline constexpr int kFeedbackLong = 41;
inline constexpr int kAttenuationCommandLength = 2;
inline constexpr char kLevelQuery[] = "VOL";
inline constexpr int kLevelSampleCount = 480;
inline constexpr int kLevelSamplesLength = kLevelSampleCount * 3;
inline constexpr qint32 kFullScale = 8388607; // largest signed 24-bit sample

using SerialGroups = std::array<quint8, 4>;

// What an element holds and reports in bytes 0-34 of its feedback (the ConfigWrite layout).
struct ElementConfig {
    quint32 ip = 0; // host order: 10.77.0.11 is 0x0A4D000B
    quint32 mask = 0;
    quint32 gateway = 0;
    quint32 remote = 0;
    quint8 input = 0;
    quint8 type = 0;
    quint8 tx = 0;
    QByteArray name = QByteArray(kNameLength, ' '); // exactly 16 bytes
};

// Everything a feedback carries; `length` is 40 or 41 (the 41st byte is the attenuation).
struct FeedbackContent {
    ElementConfig config;
    quint8 role = 1;
    SerialGroups serial {0, 0, 0, 1};
    quint8 attenuation = 255;
    int length = kFeedbackShort;
};

// Four bytes in written order: 192.168.1.10 gives C0 A8 01 0A.
QByteArray addressBytes(quint32 address);
quint32 addressFromBytes(const QByteArray& bytes, int offset);
QString addressText(quint32 address);
std::optional<quint32> parseAddress(const QString& text); // strict dotted quad

// Number of leading one bits; nullopt for a mask with a gap (255.0.255.0).
std::optional<int> prefixLength(quint32 mask);
quint32 maskFromPrefix(int prefixLength);

// The name as the element holds it: the low 8 bits of each character, cut or padded with
// blanks to 16 bytes. No case change: the element keeps what it was given.
QByteArray fitName(const QString& text);

// Four bytes whose decimal texts, joined, read back as `serial` (42 gives 00 00 00 2A,
// 1255 gives 00 00 01 FF). Leading zero groups are preferred. nullopt when no four bytes
// can spell the number (it has more than 12 digits, or e.g. 2560000000000 would need a "00").
std::optional<SerialGroups> serialGroups(quint64 serial);

QByteArray feedback(const FeedbackContent& content);

// Bytes 0-34 of a 35-byte ConfigWrite; nullopt for any other length.
std::optional<ElementConfig> parseConfigWrite(const QByteArray& datagram);

// 480 big-endian two's-complement 24-bit samples of a 1 kHz sine at 48 kHz whose loudest
// sample, as the console measures loudness, is exactly `peak` (-8388608..8388607; 0 is
// silence). That sample stands well before the last triple, which the console ignores.
QByteArray levelSamples(qint32 peak);

// round(8388607 * 10^(dbfs / 20)); nullopt above 0 dBFS.
std::optional<qint32> peakForDbfs(double dbfs);

} // namespace sim
