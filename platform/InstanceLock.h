#pragma once

// Keeps a second copy of the console from running.
//
// An flock(2) on an open file: the kernel drops it when the holder exits or is killed, so a lock
// file left behind by a crashed run never blocks the next start.

#include <QString>

namespace nms {

class InstanceLock {
public:
    explicit InstanceLock(QString path = defaultPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when we hold the lock (now or already): no other copy is running.
    bool tryLock();
    void unlock();
    QString path() const { return m_path; }

    // $XDG_RUNTIME_DIR/orbilane-nms.lock, else /tmp/orbilane-nms-<uid>.lock.
    static QString defaultPath();

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace nms
