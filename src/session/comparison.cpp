#include "session/comparison.h"

#include <QHash>

#include <algorithm>

QList<ComparedFile> compareChanges(const QList<QList<GitFileChange>>& perAgent)
{
    QList<ComparedFile> files;
    QHash<QByteArray, qsizetype> rows;
    for (qsizetype agent = 0; agent < perAgent.size(); ++agent) {
        for (const GitFileChange& change : perAgent[agent]) {
            auto row = rows.constFind(change.path);
            if (row == rows.cend()) {
                row = rows.insert(change.path, files.size());
                ComparedFile& file = files.emplace_back();
                file.path = change.path;
                file.byAgent.resize(perAgent.size());
            }
            ComparedFile& file = files[*row];
            if (!file.byAgent[agent])
                ++file.touchedBy;
            file.byAgent[agent] = change;
        }
    }
    std::sort(files.begin(), files.end(),
              [](const ComparedFile& a, const ComparedFile& b) { return a.path < b.path; });
    return files;
}
