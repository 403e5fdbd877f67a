#include "base/Trace.h"

namespace nms {

// Debug lines only, so every category is silent until the trace is switched on.
Q_LOGGING_CATEGORY(traceLink, "orbilane.link", QtInfoMsg)
Q_LOGGING_CATEGORY(traceDiscovery, "orbilane.discovery", QtInfoMsg)
Q_LOGGING_CATEGORY(traceStore, "orbilane.store", QtInfoMsg)
Q_LOGGING_CATEGORY(traceProbe, "orbilane.probe", QtInfoMsg)
Q_LOGGING_CATEGORY(traceNotices, "orbilane.notices", QtInfoMsg)
Q_LOGGING_CATEGORY(traceNotify, "orbilane.notify", QtInfoMsg)

void EnableTrace()
{
    QLoggingCategory::setFilterRules(QStringLiteral("orbilane.*.debug=true"));
}

} // namespace nms
