#pragma once

#include <QString>
#include <QtGlobal>

namespace nms {

constexpr qint32 EchoSuccess = 0;
constexpr qint32 EchoTimedOut = 11010;
constexpr qint32 EchoUnusable = -1; // the address cannot be used or ICMP cannot be opened

// The operator's text for an IP status code; "Unknown Response" for any code not listed.
QString EchoStatusText(qint32 status);

} // namespace nms
