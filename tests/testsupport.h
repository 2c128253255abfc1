#pragma once

#include "model/brevanemodel.h"
#include "platform/processowner.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <utility>

// How long a test waits for a condition, in ms: generous for loaded CI machines.
constexpr int deadline = 20000;

// Waits for `condition` until the deadline.
template <typename Condition> bool waitFor(Condition condition)
{
    return QTest::qWaitFor(condition, deadline);
}

// What a stand-in tool with the args step prints for the latest turn of
// `runner` when run as plain text: its arguments on one line.
inline QString printedArguments(const AgentSession* runner)
{
    const QList<QByteArray> args =
        runner->spec().turnArguments(runner->task(), false, runner->turns().back().conversation);
    return QString::fromUtf8(args.join(' ')) + QLatin1Char('\n');
}

// What a stand-in tool recorded with its record= step; empty when it did not.
struct StandinRecord {
    QList<QByteArray> arguments; // the tool's own, as the app passed them
    QByteArray workingFolder;
    QList<QByteArray> environment; // "NAME=value"
    QByteArray value(const QByteArray& name) const;
};

// A temporary HOME for one test: fake tools are written into it, and HOME
// points at it while the object lives (the previous value comes back
// afterwards). ZDOTDIR is unset for good, so login shells read this home.
//
// Fake tools are the stand-in program (tests/standin) behind a one-line
// wrapper that passes it the steps the test gives; see standin.cpp.
class FakeHome {
public:
    FakeHome();
    ~FakeHome();
    FakeHome(const FakeHome&) = delete;
    FakeHome& operator=(const FakeHome&) = delete;

    QString path() const { return m_dir.path(); }
    // Absolute path of `relative` inside the home.
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }
    // Writes a plain file (no exec bit), creating directories. Returns its path.
    QString writeFile(const QString& relative, const QByteArray& content) const;
    // Reads a file written by a fake tool; empty when missing.
    QByteArray read(const QString& relative) const;

    // Writes an executable at `relative` that runs the stand-in with
    // `steps`. Returns its path.
    QString writeStandin(const QString& relative, const QStringList& steps) const;
    // Makes a fifo at `relative` (in a folder that exists) for a stand-in's
    // wait= step; returns its path.
    QString makeFifo(const QString& relative) const;
    // Lets every stand-in waiting on the fifo go on, once one is waiting
    // there; false if none comes within `timeoutMs`.
    bool release(const QString& fifoPath, int timeoutMs = deadline) const;
    StandinRecord record(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    const bool m_hadHome = qEnvironmentVariableIsSet("HOME");
    const QByteArray m_oldHome = qgetenv("HOME");
};

// A model over a temporary home, with the owner of its threads, as a window
// has it. Destroyed in that order: the model, the owner, the home.
struct ModelRig {
    using Tools = QList<std::pair<QString, QStringList>>; // name, stand-in steps

    FakeHome home;
    ProcessOwner owner;
    BrevaneModel model{owner};

    AgentSession* runner(int i) const { return model.runners()[i]; }
    QString file(const QString& name) const { return home.filePath(name); }
    // Installs each tool as a stand-in in ~/.local/bin, then scans and waits
    // for the scan to end.
    bool scan(const Tools& tools = {});
    // Runs `task` on the included tools and waits until none runs.
    bool runAll(const QString& task);
};

// What this test process holds right now, read from /proc (Linux only), and
// whether other processes are gone.
namespace ProcessProbe {

// Entries of a /proc folder (a listing of fd/ always shows its own one too).
inline int countEntries(const QString& path)
{
    return int(QDir(path).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}
// The state ('Z' for a zombie) and parent of `pid`; the command name before
// them may hold blanks and parentheses, so the fields follow the last ')'.
inline QList<QByteArray> stat(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return line.isEmpty() ? QList<QByteArray>() : line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// True once `pid` no longer runs. A zombie counts as gone only if it is not
// ours: an unreaped child of this process is exactly what tests look for.
inline bool gone(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    const QList<QByteArray> fields = stat(pid);
    return fields.size() > 1 && fields[0] == "Z" && fields[1].toLong() != ::getpid();
}

// Every live process whose parent is this one (zombies included), or whose
// process group is `group`.
inline QList<pid_t> children(pid_t group = 0)
{
    QList<pid_t> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = static_cast<pid_t>(name.toLong());
        const QList<QByteArray> fields = pid > 0 ? stat(pid) : QList<QByteArray>();
        if (fields.size() > 2 &&
            (group ? fields[2].toLong() == group && !gone(pid) : fields[1].toLong() == ::getpid()))
            found << pid;
    }
    return found;
}

// A decimal pid that a fake tool wrote to a file; 0 when there is none.
inline pid_t pidFrom(const QByteArray& text)
{
    return static_cast<pid_t>(text.trimmed().toLong());
}

} // namespace ProcessProbe
