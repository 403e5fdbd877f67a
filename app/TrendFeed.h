#pragma once
// What the monitor measures, handed to the history as it comes: the history knows nothing of
// the monitor, and the monitor nothing of the history.

namespace nms {

class LinkMonitor;
class TrendStore;

void FeedTrends(const LinkMonitor& monitor, TrendStore& trends);

} // namespace nms
