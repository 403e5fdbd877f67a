#pragma once
// What a discovery changed: the elements that answered and were not in the database before it
// (new), and those that were and did not answer (missing).

#include <QList>
#include <QString>

#include "database/ElementStore.h"

namespace nms {

struct DiscoveryReport {
    int found = 0;
    QList<ElementRecord> added; // new
    QList<ElementRecord> missing;
};

DiscoveryReport CompareDiscovery(const QList<ElementRecord>& before, const QList<ElementRecord>& found);

// "3 elements found: 1 new, 1 missing: SITE RX [00:11:22:33:44:55]"; at most a few names are
// listed, the rest counted.
QString DiscoveryReportText(const DiscoveryReport& report);

} // namespace nms
