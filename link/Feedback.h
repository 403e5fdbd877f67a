#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace nms {

// The last ElementFeedback an element sent, in the order the window keeps it.
struct ElementFeedback {
    QString ElementMAC, ElementIP, ElementMask, ElementGW, RemoteIP;
    quint8 AudioInput = 0, AudioType = 0, AudioTX = 0, Attenuation = 0;
    QString ElementName; // 16 characters as the element holds them, untrimmed
    quint8 Role = 0;
    quint8 SerialNumber = 0;
    bool SerialOverflow = false; // the joined serial digits exceed one byte
};

constexpr quint8 RoleNone = 0;
constexpr quint8 RoleEncoder = 1;
constexpr quint8 RoleDecoder = 2;
// A decoder that sends no attenuation byte is at 0 dB.
constexpr quint8 DefaultDecoderAttenuation = 255;

// Fills every field but ElementMAC from a 40- or 41-byte datagram. Attenuation is taken only
// from a decoder; ElementMAC and a non-decoder's Attenuation are kept from `previous`.
// A datagram shorter than 40 bytes carries no feedback and gives `previous` back unchanged.
ElementFeedback ParseFeedback(const QByteArray& datagram, const ElementFeedback& previous);

enum class FeedbackCheck {
    Ok,
    ElementIP,
    ElementMask,
    ElementGW,
    RemoteIP,
    AudioInput,
    AudioType,
    TxType,
    ElementType,
    SerialNumber
};

// Runs the field checks in their fixed order; the first failure is reported.
FeedbackCheck ValidateFeedback(const ElementFeedback& feedback);

// The two-line error text for a failed check (lines joined by CR); empty for Ok.
QString FeedbackCheckMessage(FeedbackCheck check);

} // namespace nms
