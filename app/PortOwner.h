#pragma once
// Who holds the console port when binding it fails: the watch service says so with its lock.

#include <QString>

namespace nms {

// When the watch service runs (services/WatchPresence): the lines that say so, how to stop it
// and what still works beside it, joined by CR. Empty when it does not run.
QString WatchServiceHoldsPortText(quint16 port);

} // namespace nms
