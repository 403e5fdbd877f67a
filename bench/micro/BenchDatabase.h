#pragma once
// Databases of many elements for the benchmarks, written the way a discovery leaves them.

#include <QByteArray>
#include <QString>

namespace nms::bench {

// Element i (0-based): key 0200000XXXXX, name "ELEMENT i", address 10.77.x.y; decoders every
// third element, with an attenuation entry.
QString BenchKey(int i);
QString BenchIp(int i);
QString BenchName(int i);

// The whole file text of `count` elements (one write, not one per entry).
QByteArray BenchDatabaseText(int count);
bool WriteBenchDatabase(const QString& path, int count);

// A 1440-byte LevelSamples: a sine whose loudest sample is `peak`.
QByteArray BenchLevelSamples(qint32 peak);

} // namespace nms::bench
