#include "link/Feedback.h"

#include "base/AddressText.h"
#include "link/Datagrams.h"

namespace nms {

namespace {

quint8 ByteAt(const QByteArray& datagram, int offset)
{
    return static_cast<quint8>(datagram.at(offset));
}

QString AddressAt(const QByteArray& datagram, int offset)
{
    const quint8 four[AddressWidth] = {ByteAt(datagram, offset), ByteAt(datagram, offset + 1),
                                       ByteAt(datagram, offset + 2), ByteAt(datagram, offset + 3)};
    return AddressBytesToText(four);
}

// The element sends its serial number as four bytes whose decimal texts are joined and read
// as one number: 00 00 01 02 is "0012", that is 12. Up to twelve digits, so 64 bits are needed.
quint64 JoinedSerial(const QByteArray& datagram)
{
    quint64 value = 0;
    for (int k = 0; k < SerialNumberWidth; ++k) {
        const quint8 part = ByteAt(datagram, Offset::SerialNumber + k);
        const quint64 scale = part >= 100 ? 1000 : part >= 10 ? 100 : 10;
        value = value * scale + part;
    }
    return value;
}

bool IsSelector(quint8 value)
{
    return value == 0 || value == 1;
}

} // namespace

ElementFeedback ParseFeedback(const QByteArray& datagram, const ElementFeedback& previous)
{
    ElementFeedback feedback = previous;
    if (datagram.size() < FeedbackLength)
        return feedback;

    feedback.ElementIP = AddressAt(datagram, Offset::ElementIP);
    feedback.ElementMask = AddressAt(datagram, Offset::ElementMask);
    feedback.ElementGW = AddressAt(datagram, Offset::ElementGW);
    feedback.RemoteIP = AddressAt(datagram, Offset::RemoteIP);
    feedback.AudioInput = ByteAt(datagram, Offset::AudioInput);
    feedback.AudioType = ByteAt(datagram, Offset::AudioType);
    feedback.AudioTX = ByteAt(datagram, Offset::AudioTX);
    feedback.ElementName = QString::fromLatin1(datagram.constData() + Offset::ElementName, ElementNameWidth);
    feedback.Role = ByteAt(datagram, Offset::Role);

    const quint64 serial = JoinedSerial(datagram);
    feedback.SerialOverflow = serial > 255;
    feedback.SerialNumber = feedback.SerialOverflow ? 0 : static_cast<quint8>(serial);

    if (feedback.Role == RoleDecoder) {
        feedback.Attenuation =
            datagram.size() > Offset::Attenuation ? ByteAt(datagram, Offset::Attenuation) : DefaultDecoderAttenuation;
    }
    return feedback;
}

FeedbackCheck ValidateFeedback(const ElementFeedback& feedback)
{
    if (!IsDottedQuad(feedback.ElementIP))
        return FeedbackCheck::ElementIP;
    if (!IsDottedQuad(feedback.ElementMask))
        return FeedbackCheck::ElementMask;
    if (!IsDottedQuad(feedback.ElementGW))
        return FeedbackCheck::ElementGW;
    if (!IsDottedQuad(feedback.RemoteIP))
        return FeedbackCheck::RemoteIP;
    if (!IsSelector(feedback.AudioInput))
        return FeedbackCheck::AudioInput;
    if (!IsSelector(feedback.AudioType))
        return FeedbackCheck::AudioType;
    if (!IsSelector(feedback.AudioTX))
        return FeedbackCheck::TxType;
    if (feedback.Role > RoleDecoder)
        return FeedbackCheck::ElementType;
    if (feedback.SerialNumber == 0 || feedback.SerialOverflow)
        return FeedbackCheck::SerialNumber;
    return FeedbackCheck::Ok;
}

QString FeedbackCheckMessage(FeedbackCheck check)
{
    const char* field = nullptr;
    switch (check) {
    case FeedbackCheck::Ok: return QString();
    case FeedbackCheck::ElementIP: field = "Element IP"; break;
    case FeedbackCheck::ElementMask: field = "Element Mask"; break;
    case FeedbackCheck::ElementGW: field = "Element GW"; break;
    case FeedbackCheck::RemoteIP: field = "Remote IP"; break;
    case FeedbackCheck::AudioInput: field = "Audio Input"; break;
    case FeedbackCheck::AudioType: field = "Audio Type"; break;
    case FeedbackCheck::TxType: field = "TX Type"; break;
    case FeedbackCheck::ElementType: field = "Element Type"; break;
    case FeedbackCheck::SerialNumber: field = "Serial Number"; break;
    }
    if (!field)
        return QString();
    return QStringLiteral("An error occured while retrieving '%1':").arg(QLatin1String(field)) + QChar(u'\r')
        + QStringLiteral("Feedback is corrupted.");
}

} // namespace nms
