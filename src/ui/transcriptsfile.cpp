#include "ui/transcriptsfile.h"

#include "platform/spawn.h"

#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

namespace {

// Three backticks, or one more than the longest run of them in `text`.
QString fenceFor(const QString& text)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == u'`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return QString(std::max<qsizetype>(3, longest + 1), u'`');
}

void appendFenced(QString& out, const QString& label, const QString& text)
{
    const QString fence = fenceFor(text);
    out += label + QStringLiteral(":\n\n") + fence + u'\n' + text;
    if (!text.isEmpty() && !text.endsWith(u'\n'))
        out += u'\n';
    out += fence + QStringLiteral("\n\n");
}

bool endsOpen(const QString& text)
{
    return !text.isEmpty() && !text.endsWith(u'\n');
}

} // namespace

QByteArray transcriptsMarkdown(const QList<SavedRun>& runs, const QString& folder,
                               const QDateTime& savedAt)
{
    QString out = QStringLiteral("# Brevane transcripts\n\n- Saved: ") +
                  savedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                  QStringLiteral("\n- Folder: ") + folder + QStringLiteral("\n\n");
    for (const SavedRun& run : runs) {
        out += QStringLiteral("## ") + run.tool;
        // A task never ends in a line break (it is trimmed); a transcript may.
        if (endsOpen(run.transcript))
            out += QStringLiteral(" (no final newline)");
        out += QStringLiteral("\n\n- Path: ") + run.path + QStringLiteral("\n- Status: ") +
               run.status + QStringLiteral("\n- Elapsed: ") + run.elapsed + QStringLiteral("\n\n");
        appendFenced(out, QStringLiteral("Task"), run.task);
        appendFenced(out, QStringLiteral("Transcript"), run.transcript);
    }
    return out.toUtf8();
}

QString transcriptsFileName(const QString& task, const QDateTime& at)
{
    QStringList words;
    for (const QString& word :
         task.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        QString kept;
        for (const QChar c : word) {
            if (c.isLetterOrNumber() || c == u'-')
                kept += c;
        }
        if (!kept.isEmpty())
            words.push_back(kept);
        if (words.size() == 5)
            break;
    }
    QString name = QStringLiteral("brevane-") + at.toString(QStringLiteral("yyyy-MM-dd-HHmm"));
    if (!words.isEmpty())
        name += u'-' + words.join(u'-');
    return name + QStringLiteral(".md");
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    // Qt reports a write that stops short (a full disk, a file size limit)
    // as a short count without an error, and would then commit the cut file.
    const qint64 written = file.write(bytes);
    const int writeErrno = errno;
    if (written != bytes.size()) {
        *error =
            file.error() != QFileDevice::NoError ? file.errorString() : systemErrorText(writeErrno);
        file.cancelWriting();
        return false;
    }
    if (file.commit())
        return true;
    *error = file.errorString();
    return false;
}
