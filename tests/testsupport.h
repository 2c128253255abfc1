#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary HOME for one test: fake tools are shell scripts written into it,
// and HOME points at it while the object lives (the previous value comes back
// afterwards). ZDOTDIR is unset for good, so login shells read this home.
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

private:
    QTemporaryDir m_dir;
    const bool m_hadHome = qEnvironmentVariableIsSet("HOME");
    const QByteArray m_oldHome = qgetenv("HOME");
};
