#pragma once
// Whether the watch service holds the console port: it keeps an exclusive flock(2) on a file in
// its runtime folder for as long as it runs, and anyone who can read the file can ask. The
// kernel drops the lock when the service ends or is killed, so a file left behind never lies.

#include <QString>

namespace nms {

// /run/orbilane-watch/watch.lock (the service's RuntimeDirectory=); NMS_WATCH_LOCK replaces it
// for tests.
QString WatchLockPath();

// Held by the watch program while it runs.
class WatchLock {
public:
    explicit WatchLock(QString path = WatchLockPath());
    ~WatchLock();
    WatchLock(const WatchLock&) = delete;
    WatchLock& operator=(const WatchLock&) = delete;

    // False with errorString() when the file cannot be made or another watch holds it.
    bool acquire();
    bool heldByOther() const { return heldByOther_; }
    QString errorString() const { return error_; }
    QString path() const { return path_; }

private:
    QString path_;
    QString error_;
    bool heldByOther_ = false;
    int fd_ = -1;
};

// True when a running watch service holds the lock at `path`.
bool WatchServiceRunning(const QString& path = WatchLockPath());

} // namespace nms
