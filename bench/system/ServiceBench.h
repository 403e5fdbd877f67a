#pragma once

#include <QString>

namespace nms::test {
class TestNetwork;
}

namespace nms::bench {

// orbilane-watch, the real program, watching `count` elements of the shared host with audio for
// `seconds`: its CPU share, resident memory, false alarms, and GET /metrics at that size.
void ServiceTable(test::TestNetwork& network, const QString& simulator, const QString& watchProgram, int count,
                  int seconds);

} // namespace nms::bench
