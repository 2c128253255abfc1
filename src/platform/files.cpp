#include "platform/files.h"

#include <QDir>
#include <QString>

QByteArray absoluteCleanPath(const QByteArray& path)
{
    const QByteArray absolute = path.startsWith('/') ? path : currentDirectory() + '/' + path;
    // Latin-1 gives every byte a character of its own and back, and the
    // cleaning looks only at '/' and '.': the other bytes pass untouched.
    return QDir::cleanPath(QString::fromLatin1(absolute)).toLatin1();
}
