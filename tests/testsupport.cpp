#include "testsupport.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

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
    QByteArray line = "#!/bin/sh\nexec " + quoted(BREVANE_STANDIN);
    for (const QString& step : steps)
        line += ' ' + quoted(step.toUtf8());
    const QString path = writeFile(relative, line + " -- \"$@\"\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

QString FakeHome::makeFifo(const QString& relative) const
{
    const QString path = m_dir.filePath(relative);
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
    // The count of arguments, the arguments, the folder, then the environment.
    QList<QByteArray> fields = read(relative).split('\0');
    const qsizetype count = fields.first().toInt();
    StandinRecord r;
    if (fields.size() < count + 3)
        return r;
    fields.removeLast(); // the empty rest after the last NUL
    r.arguments = fields.mid(1, count);
    r.workingFolder = fields[count + 1];
    r.environment = fields.mid(count + 2);
    return r;
}

QByteArray StandinRecord::value(const QByteArray& name) const
{
    for (const QByteArray& entry : environment)
        if (entry.startsWith(name + '='))
            return entry.mid(name.size() + 1);
    return {};
}

bool ModelRig::scan(const Tools& tools)
{
    for (const auto& [name, steps] : tools)
        home.writeStandin(QStringLiteral(".local/bin/") + name, steps);
    model.scan();
    return waitFor([this] { return !model.scanning(); });
}

bool ModelRig::runAll(const QString& task)
{
    model.setTask(task);
    model.start();
    return waitFor([this] { return !model.anyRunning(); });
}
