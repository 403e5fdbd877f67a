#pragma once

#include <QString>

namespace nms::test {
class TestNetwork;
}

namespace nms::bench {

// The monitor watching `count` elements of the shared host for `seconds` per measurement.
void WatchTable(test::TestNetwork& network, const QString& simulator, int count, int seconds);

} // namespace nms::bench
