#pragma once

#include "transcript/transcripttext.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

// File > Save Transcripts: every run of a window in one Markdown file.

// What the file tells of one turn: what was asked, how it ended, and where
// what the tool did lies in its column's transcript.
struct SavedTurn {
    QString task;
    QString status;
    QString elapsed;
    QString usage; // empty: none reported
    qsizetype from = 0;
    qsizetype to = 0;
};

// What the file tells of one column: every turn of its session.
struct SavedRun {
    QString tool;
    QString path;
    QList<SavedTurn> turns;
    TranscriptText::Snapshot transcript;
};

// What goes in the file and where.
struct TranscriptsFile {
    QString path;
    QString folder;
    QDateTime savedAt;
    QList<SavedRun> runs;
};

// Writes the file, UTF-8, on the calling thread (any thread), replacing
// `file.path` in one step: on failure *error says why and a file already
// there is left as it was. `cancelled` is asked between slices of the
// text; once it says yes nothing is written and *error is empty.
//
// The file tells when and where, then for each column its tool and path,
// and for each of its turns the status, elapsed time and usage, and its
// task and transcript in fenced blocks. A fence is longer than any run of
// backticks inside it, and a text without a final line break gets one
// before the closing fence, its turn's heading saying "(no final newline)",
// so that every text can be read back exactly. A task is
// trimmed and so always gets that line break. The transcripts are encoded
// a slice at a time: the file costs no copy of them.
bool writeTranscriptsFile(const TranscriptsFile& file, QString* error,
                          const std::function<bool()>& cancelled = {});

// "brevane-YYYY-MM-DD-HHMM-" and the task's first five words (letters,
// digits and hyphens only), then ".md".
QString transcriptsFileName(const QString& task, const QDateTime& at);
