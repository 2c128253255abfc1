#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// This running Brevane as others see it: a lock file of its own, named
// after a fresh id, in a folder all of them share, held for as long as it
// runs. Turns it runs carry the id, so that a later Brevane can tell its
// turns still running from those a crash left behind.
class InstanceLock {
public:
    // Takes a new lock in `folder`, made if missing.
    explicit InstanceLock(const QString& folder);

    const QString& id() const { return m_id; }
    bool isHeld() const { return m_lock && m_lock->isLocked(); }

    // Whether the Brevane that took `id` in `folder` still holds its lock.
    // A lock left by a process that is gone counts as released. Safe on any
    // thread: it touches only the file.
    static bool isLive(const QString& folder, const QString& id);

private:
    QString m_id;
    std::unique_ptr<QLockFile> m_lock;
};
