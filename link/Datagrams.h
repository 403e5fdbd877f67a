#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace nms {

// The ports of the link. The product uses these; tests move them to free loopback ports.
struct LinkPorts {
    quint16 console = 2976; // every datagram leaves from and arrives at this port
    quint16 config = 2976; // elements take configuration here
    quint16 command = 2977; // attenuation and level queries
    quint16 paging = 1901; // the discovery paging request
};

// Every datagram is recognised by its length alone; there are no headers.

constexpr int ConfigWriteLength = 35;
constexpr int FeedbackLength = 40;
constexpr int FeedbackWithAttenuationLength = 41;
constexpr int LevelSamplesLength = 1440;
constexpr int ShortReplyLength = 3;
constexpr int PagingRequestLength = 32;
constexpr int AttenuationCommandLength = 2;

// Byte offsets shared by ConfigWrite and ElementFeedback (the feedback appends its identity).
namespace Offset {
constexpr int ElementIP = 0;
constexpr int ElementMask = 4;
constexpr int ElementGW = 8;
constexpr int RemoteIP = 12;
constexpr int AudioInput = 16;
constexpr int AudioType = 17;
constexpr int AudioTX = 18;
constexpr int ElementName = 19;
constexpr int Role = 35;
constexpr int SerialNumber = 36;
constexpr int Attenuation = 40;
} // namespace Offset

constexpr int AddressWidth = 4;
constexpr int ElementNameWidth = 16;
constexpr int SerialNumberWidth = 4;

// Exactly ElementNameWidth characters, upper case: padded with blanks or cut.
QString FitElementName(const QString& text);

QByteArray PagingRequest();

// Each audio selector (input, type, TX) is one of two choices, sent as its position.
constexpr int AudioChoiceCount = 2;

struct ConfigFields {
    QString ip, mask, gw, remote;
    int input = 0, type = 0, tx = 0;
    QString name;
};

// 35 bytes. Address parts that do not convert are sent as 0; callers check the texts first.
QByteArray BuildConfigWrite(const ConfigFields& fields);
// An attenuation code: AttenuationZeroDb is 0 dB, each step below it 0.5 dB more attenuation, and
// AttenuationMinimum is mute; a decoder reporting less is shown and stored at the minimum.
constexpr int AttenuationZeroDb = 255;
constexpr int AttenuationMinimum = 14;
QByteArray BuildAttenuationCommand(quint8 code);
QByteArray LevelQuery();

// LevelSamples: 480 signed 24-bit samples, most significant byte first.
constexpr quint32 LevelFullScale = 8388608; // 2^23, one past the largest 24-bit magnitude
// The loudest magnitude of a LevelSamples datagram: the last sample is never examined, and the
// element's padding pattern counts as silence.
quint32 LevelSamplesPeak(const QByteArray& samples);
// A peak in dB relative to full scale (20 log10 of peak over full scale); minus infinity for 0.
double PeakDbfs(quint32 peak);

enum class DatagramKind { LevelSamples, ShortReply, Feedback, Dropped };
DatagramKind ClassifyDatagram(qsizetype length);

} // namespace nms
