#pragma once

#include "git/git.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <cstdio>

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
