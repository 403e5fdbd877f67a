#pragma once

// Keeps a second copy of the console from running.
//
// An flock(2) on an open file: the kernel drops it when the holder exits or is killed, so a lock
// file left behind by a crashed run never blocks the next start.

#include <QString>

namespace nms {

class InstanceLock {
public:
    explicit InstanceLock(QString path = DefaultPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result {
        Acquired, // we hold it (now or already): no other copy is running
        HeldByOther, // another process holds it: another copy is running
        Failed, // the lock file could not be made or opened; errorString() says why
    };
    Result tryLock();
    QString errorString() const { return error_; }
    void unlock();
    QString path() const { return path_; }

    // $XDG_RUNTIME_DIR/orbilane-nms.lock, else /tmp/orbilane-nms-<uid>.lock.
    static QString DefaultPath();

private:
    QString path_;
    QString error_;
    int fd_ = -1;
};

} // namespace nms
