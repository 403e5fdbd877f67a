#include "app/TrendFeed.h"

#include "monitor/LinkMonitor.h"
#include "trends/TrendStore.h"

namespace nms {

namespace {

TrendState TrendStateOf(ElementState state)
{
    switch (state) {
    case ElementState::Up: return TrendState::Up;
    case ElementState::Down: return TrendState::Down;
    case ElementState::Silent: return TrendState::Silent;
    case ElementState::Unknown: break;
    }
    return TrendState::Unknown;
}

} // namespace

void FeedTrends(const LinkMonitor& monitor, TrendStore& trends)
{
    const auto key = [&monitor](int index) -> const QString& { return monitor.elements().at(index).record.key; };
    QObject::connect(&monitor, &LinkMonitor::echoAnswered, &trends, [&trends, key](int index, double ms) {
        if (trends.running())
            trends.echoAnswered(key(index), ms);
    });
    QObject::connect(&monitor, &LinkMonitor::echoLost, &trends, [&trends, key](int index) {
        if (trends.running())
            trends.echoLost(key(index));
    });
    QObject::connect(&monitor, &LinkMonitor::peakTaken, &trends, [&trends, key](int index, double dbfs) {
        if (trends.running())
            trends.peak(key(index), dbfs);
    });
    QObject::connect(&monitor, &LinkMonitor::stateChanged, &trends,
                     [&trends, key](int index, ElementState, ElementState to) {
                         if (trends.running())
                             trends.state(key(index), TrendStateOf(to));
                     });
    QObject::connect(&monitor, &LinkMonitor::elementsReset, &trends, [&trends, &monitor] {
        if (!trends.running())
            return;
        QList<std::pair<QString, TrendState>> watched;
        watched.reserve(monitor.elements().size());
        for (const WatchedElement& element : monitor.elements())
            watched.append({element.record.key, TrendStateOf(element.state)});
        trends.watch(watched);
    });
}

} // namespace nms
