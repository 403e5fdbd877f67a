#pragma once
// The kernel's neighbour table thresholds (net.ipv4.neigh.default.gc_thresh1/2/3), shared by
// every network namespace of the host. Watching an element needs its entry: near gc_thresh2 the
// kernel starts dropping entries, echoes fail and elements look down when they are not.

#include <QString>

namespace nms {

struct NeighbourLimits {
    int thresh1 = -1, thresh2 = -1, thresh3 = -1; // -1: could not be read
};

NeighbourLimits ReadNeighbourLimits(const QString& folder = QStringLiteral("/proc/sys/net/ipv4/neigh/default"));

// Watching this many elements comes within a quarter of gc_thresh2.
bool NearNeighbourLimit(int watched, const NeighbourLimits& limits);

} // namespace nms
