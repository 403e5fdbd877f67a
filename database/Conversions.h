#pragma once
// Small text conversions shared by the link, the editor and the echo probe.

#include <QString>
#include <QStringList>

namespace nms {

// Splits at every "."; adjacent dots give an empty part, the empty text gives no part at all.
QStringList SplitDotted(const QString& text);
// Four parts, each a decimal number 0 to 255: leading zeros and surrounding blanks (space, tab)
// allowed, signs and other forms not. Never fails in any other way.
bool IsDottedQuad(const QString& text);
// Exactly 16 characters, upper case: padded with blanks or cut.
QString FitElementName(const QString& text);
// The number of a part that passes IsDottedQuad's per-part check; false when it does not.
bool DottedPartToByte(const QString& part, quint8* value);
// A text IsDottedQuad accepts as its 32-bit address in network order, the way inet_addr gives it;
// anything else: ok = false and the no-address value 0xFFFFFFFF. The one reading of an address
// for the checks, the echo probe, the neighbour lookup and every send.
quint32 Ipv4FromDottedText(const QString& text, bool* ok);

} // namespace nms
