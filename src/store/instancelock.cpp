#include "store/instancelock.h"

#include <QDir>
#include <QUuid>

namespace {

QString lockPath(const QString& folder, const QString& id)
{
    return folder + QLatin1Char('/') + id + QStringLiteral(".lock");
}

} // namespace

InstanceLock::InstanceLock(const QString& folder)
    : m_id(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QDir().mkpath(folder);
    m_lock = std::make_unique<QLockFile>(lockPath(folder, m_id));
    // Held for the whole run, however long: only a dead owner makes it stale.
    m_lock->setStaleLockTime(0);
    m_lock->tryLock(0);
}

bool InstanceLock::isLive(const QString& folder, const QString& id)
{
    if (id.isEmpty() || id.contains(QLatin1Char('/')))
        return false;
    QLockFile lock(lockPath(folder, id));
    // By age alone a lock is never stale: a Brevane may run for days.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return lock.error() == QLockFile::LockFailedError;
    lock.unlock(); // and the file with it: nobody holds it
    return false;
}
