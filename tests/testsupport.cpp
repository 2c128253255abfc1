#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FakeHome::FakeHome()
{
    if (m_dir.isValid())
        qputenv("HOME", QFile::encodeName(m_dir.path()));
    // zsh would read a developer's ZDOTDIR instead of this home's profile.
    qunsetenv("ZDOTDIR");
}

FakeHome::~FakeHome()
{
    if (m_hadHome)
        qputenv("HOME", m_oldHome);
    else
        qunsetenv("HOME");
}

QString FakeHome::writeFile(const QString& relative, const QByteArray& content) const
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

QString FakeHome::writeTool(const QString& relative, const QByteArray& body) const
{
    const QString path = writeFile(relative, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

QByteArray FakeHome::read(const QString& relative) const
{
    QFile file(m_dir.filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
