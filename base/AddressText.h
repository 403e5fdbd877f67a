#pragma once
// IPv4 addresses as the operator types them and as the database stores them: the one reading of a
// dotted quad, shared by the checks, every send, the echo probe and the neighbour lookup.

#include <QString>
#include <QStringList>

namespace nms {

// Splits at every "."; adjacent dots give an empty part, the empty text gives no part at all.
QStringList SplitDotted(const QString& text);
// Four parts, each a decimal number 0 to 255: leading zeros and surrounding blanks (space, tab)
// allowed, signs and other forms not. Never fails in any other way.
bool IsDottedQuad(const QString& text);
// The number of a part that passes IsDottedQuad's per-part check; false when it does not.
bool DottedPartToByte(const QString& part, quint8* value);
// A text IsDottedQuad accepts as its 32-bit address in network order, the way inet_addr gives it;
// anything else: ok = false and the no-address value 0xFFFFFFFF.
quint32 Ipv4FromDottedText(const QString& text, bool* ok);
// Four address bytes as decimal parts without leading zeros, joined by ".".
QString AddressBytesToText(const quint8* four);

} // namespace nms
