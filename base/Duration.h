#pragma once
// Durations as a person writes and reads them.

#include <QString>

namespace nms {

// "2 h 14 min", "3 d 4 h", "1 h 0 min", "45 s": two units, the larger first (seconds alone under a
// minute), so that a reader sees at once which scale it is.
QString DurationText(qint64 ms);

// "90s", "15m", "15min", "2h", "30d", "1w" (a number and a unit; a plain number is seconds) in
// milliseconds; -1 when it is none of these or not above zero.
qint64 ParseDuration(const QString& text);

} // namespace nms
