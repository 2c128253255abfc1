#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// How long a test waits for a condition, in ms: generous for loaded CI machines.
constexpr int deadline = 20000;

// What a stand-in tool recorded with its record= step.
struct StandinRecord {
    QList<QByteArray> arguments; // the tool's own, as the app passed them
    QByteArray workingFolder;
    QList<QByteArray> environment; // "NAME=value"
    bool valid = false;
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
    // Writes `body` (a /bin/sh script without the #! line) to `relative`,
    // creating directories, and makes it executable. Returns its path.
    QString writeTool(const QString& relative, const QByteArray& body) const;
    // Writes a plain file (no exec bit). Returns its path.
    QString writeFile(const QString& relative, const QByteArray& content) const;
    // Reads a file written by a fake tool; empty when missing.
    QByteArray read(const QString& relative) const;

    // Writes a tool at `relative` that runs the stand-in with `steps`.
    // Returns its path.
    QString writeStandin(const QString& relative, const QStringList& steps) const;
    // Makes a fifo at `relative` for a stand-in's wait= step; returns its path.
    QString makeFifo(const QString& relative) const;
    // Lets every stand-in waiting on the fifo go on, once one is waiting
    // there; false if none comes within `timeoutMs`.
    bool release(const QString& fifoPath, int timeoutMs = 20000) const;
    StandinRecord record(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    const bool m_hadHome = qEnvironmentVariableIsSet("HOME");
    const QByteArray m_oldHome = qgetenv("HOME");
};
