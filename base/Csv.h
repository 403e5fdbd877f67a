#pragma once
// Comma-separated values as RFC 4180 has them: CRLF line ends, a field quoted when it holds a
// comma, a quote or a line break, its quotes doubled.

#include <QString>
#include <QStringList>

namespace nms {

QString CsvField(const QString& text);
// One record with its CRLF.
QString CsvLine(const QStringList& fields);

} // namespace nms
