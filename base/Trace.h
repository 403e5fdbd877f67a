#pragma once
// The console's traffic trace: what was sent and received, what was written to the database, what
// the operator was told. Off unless switched on (--trace, or QT_LOGGING_RULES="orbilane.*=true"),
// each line on standard error.

#include <QLoggingCategory>
#include <QString>

namespace nms {

Q_DECLARE_LOGGING_CATEGORY(traceLink) // orbilane.link: every datagram in and out
Q_DECLARE_LOGGING_CATEGORY(traceDiscovery) // orbilane.discovery: paging, answers, windows
Q_DECLARE_LOGGING_CATEGORY(traceStore) // orbilane.store: every database write
Q_DECLARE_LOGGING_CATEGORY(traceProbe) // orbilane.probe: echo probes and their outcome
Q_DECLARE_LOGGING_CATEGORY(traceNotices) // orbilane.notices: what the operator is shown
Q_DECLARE_LOGGING_CATEGORY(traceNotify) // orbilane.notify: alarms queued, sent, retried, given up

// Switches every category of the trace on.
void EnableTrace();

} // namespace nms
