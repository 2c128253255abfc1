#pragma once

#include "git/git.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>

// What the benchmarks of git's work share: medians, and a repository's
// files and commits made with an identity of their own.

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

inline bool benchGit(const QByteArray& folder, const QList<QByteArray>& arguments)
{
    const QList<QByteArray> identity{"-c", "user.name=Bench", "-c", "user.email=bench@example.com"};
    const GitResult<QByteArray> out = Git::output({folder, identity + arguments}, {});
    if (!out)
        std::fprintf(stderr, "git %s: %s\n", arguments.join(' ').constData(),
                     qPrintable(out.error()));
    return out.ok();
}

inline bool writeBenchFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline double msSince(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// Runs the event loop until `condition` holds; false after a minute.
inline bool waitUntil(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// The commit HEAD names in `repo`.
inline QByteArray head(const QByteArray& repo)
{
    const GitResult<QByteArray> out = Git::output({repo, {"rev-parse", "HEAD"}}, {});
    return out ? out->trimmed() : QByteArray();
}
