#include "ui/transcriptsfile.h"

#include "platform/spawn.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>

namespace {

// Characters of a transcript encoded and written at a time.
constexpr qsizetype sliceChars = 1 << 20;

// Three backticks, or one more than the longest run of them in `text`.
QString fenceFor(QStringView text)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == u'`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return QString(std::max<qsizetype>(3, longest + 1), u'`');
}

bool endsOpen(QStringView text)
{
    return !text.isEmpty() && !text.endsWith(u'\n');
}

// Writes to a QSaveFile, remembering the first failure. Qt reports a write
// that stops short (a full disk, a file size limit) as a short count
// without an error, and would then commit the cut file: a short count is a
// failure here, with errno's reason.
class Writer {
public:
    Writer(QSaveFile& file, const std::function<bool()>& cancelled)
        : m_file(file)
        , m_cancelled(cancelled)
    {
    }

    bool ok() const { return m_error.isNull() && !m_stopped; }
    bool stopped() const { return m_stopped; }
    const QString& error() const { return m_error; }

    void write(QStringView text)
    {
        for (qsizetype at = 0; ok() && at < text.size(); at += sliceChars) {
            if (m_cancelled && m_cancelled()) {
                m_stopped = true;
                return;
            }
            // Stateful: a pair of surrogates cut by the slice stays whole.
            writeBytes(m_encoder.encode(text.mid(at, sliceChars)));
        }
    }

    void writeFenced(const QString& label, QStringView text)
    {
        const QString fence = fenceFor(text);
        write(QString(label + QStringLiteral(":\n\n") + fence + u'\n'));
        write(text);
        if (endsOpen(text))
            write(u"\n");
        write(QString(fence + QStringLiteral("\n\n")));
    }

private:
    void writeBytes(const QByteArray& bytes)
    {
        const qint64 written = m_file.write(bytes);
        const int writeErrno = errno;
        if (written == bytes.size())
            return;
        m_error = m_file.error() != QFileDevice::NoError ? m_file.errorString()
                                                         : systemErrorText(writeErrno);
    }

    QSaveFile& m_file;
    const std::function<bool()>& m_cancelled;
    QStringEncoder m_encoder{QStringEncoder::Utf8};
    QString m_error;
    bool m_stopped = false;
};

} // namespace

bool writeTranscriptsFile(const TranscriptsFile& file, QString* error,
                          const std::function<bool()>& cancelled)
{
    QSaveFile out(file.path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = out.errorString();
        return false;
    }
    Writer writer(out, cancelled);
    writer.write(QString(QStringLiteral("# Brevane transcripts\n\n- Saved: ") +
                         file.savedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                         QStringLiteral("\n- Folder: ") + file.folder + QStringLiteral("\n\n")));
    for (const SavedRun& run : file.runs) {
        writer.write(QString(QStringLiteral("## ") + run.tool + QStringLiteral("\n\n- Path: ") +
                             run.path + QStringLiteral("\n\n")));
        for (qsizetype i = 0; i < run.turns.size(); ++i) {
            const SavedTurn& turn = run.turns[i];
            const QStringView text = run.transcript.text.sliced(turn.from, turn.to - turn.from);
            QString heading = QStringLiteral("### Turn %1").arg(i + 1);
            // A task never ends in a line break (it is trimmed); a transcript may.
            if (endsOpen(text))
                heading += QStringLiteral(" (no final newline)");
            QString facts = heading + QStringLiteral("\n\n- Status: ") + turn.status +
                            QStringLiteral("\n- Elapsed: ") + turn.elapsed;
            if (!turn.usage.isEmpty())
                facts += QStringLiteral("\n- Usage: ") + turn.usage;
            writer.write(QString(facts + QStringLiteral("\n\n")));
            writer.writeFenced(QStringLiteral("Task"), turn.task);
            writer.writeFenced(QStringLiteral("Transcript"), text);
        }
    }
    if (!writer.ok()) {
        *error = writer.error(); // empty when cancelled
        out.cancelWriting();
        return false;
    }
    if (out.commit())
        return true;
    *error = out.errorString();
    return false;
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
