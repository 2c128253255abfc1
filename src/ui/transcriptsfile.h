#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// File > Save Transcripts: every run of a window in one Markdown file.

// What the file tells of one column's latest run.
struct SavedRun {
    QString tool;
    QString path;
    QString task;
    QString status;
    QString elapsed;
    QString transcript;
};

// The whole file, UTF-8: when and where, then for each run its tool, path,
// status and elapsed time, and its task and transcript in fenced blocks. A
// fence is longer than any run of backticks inside it, and a text without a
// final line break gets one before the closing fence, its heading saying
// "(no final newline)", so that every text can be read back exactly. A task
// is trimmed and so always gets that line break.
QByteArray transcriptsMarkdown(const QList<SavedRun>& runs, const QString& folder,
                               const QDateTime& savedAt);

// "brevane-YYYY-MM-DD-HHMM-" and the task's first five words (letters,
// digits and hyphens only), then ".md".
QString transcriptsFileName(const QString& task, const QDateTime& at);

// Replaces `path` with `bytes` in one step: on failure *error says why and
// a file already there is left as it was.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error);
