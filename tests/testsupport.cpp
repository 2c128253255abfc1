#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString FakeHome::writeStandin(const QString& relative, const QStringList& steps) const
{
    auto quoted = [](const QByteArray& word) {
        return "'" + QByteArray(word).replace("'", "'\\''") + "'";
    };
    QByteArray line = "exec " + quoted(BREVANE_STANDIN);
    for (const QString& step : steps)
        line += ' ' + quoted(step.toUtf8());
    return writeTool(relative, line + " -- \"$@\"\n");
}

QString FakeHome::makeFifo(const QString& relative) const
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    ::mkfifo(QFile::encodeName(path).constData(), 0600);
    return path;
}

bool FakeHome::release(const QString& fifoPath, int timeoutMs) const
{
    // Opening for writing without blocking succeeds only once a reader waits.
    const QByteArray path = QFile::encodeName(fifoPath);
    return QTest::qWaitFor(
        [&] {
            const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                return false;
            ::close(fd);
            return true;
        },
        timeoutMs);
}

StandinRecord FakeHome::record(const QString& relative) const
{
    // The layout is fixed: argv\0 a\0 ... \0 cwd\0 path\0 \0 env\0 e\0 ...
    const QByteArray all = read(relative);
    const qsizetype cwdAt = all.indexOf(QByteArray("\0cwd\0", 5));
    const qsizetype envAt = all.indexOf(QByteArray("\0\0env\0", 6), cwdAt);
    if (!all.startsWith(QByteArray("argv\0", 5)) || cwdAt < 0 || envAt < 0)
        return {};
    StandinRecord r;
    r.valid = true;
    const QByteArray argv = all.mid(5, cwdAt - 5);
    if (!argv.isEmpty())
        r.arguments = argv.chopped(1).split('\0');
    r.workingFolder = all.mid(cwdAt + 5, envAt - cwdAt - 5);
    const QByteArray env = all.mid(envAt + 6);
    if (!env.isEmpty())
        r.environment = env.chopped(1).split('\0');
    return r;
}

QByteArray StandinRecord::value(const QByteArray& name) const
{
    for (const QByteArray& entry : environment)
        if (entry.startsWith(name + '='))
            return entry.mid(name.size() + 1);
    return {};
}
