#include "transcript/diffdocument.h"

#include "text/utf8.h"
#include "transcript/transcriptdocument.h"

#include <vector>

namespace {

bool startsWith(QStringView line, QLatin1StringView prefix)
{
    return line.startsWith(prefix);
}

// The role of a line inside a hunk, where the first character says it all.
TextRole hunkLineRole(QStringView line)
{
    switch (line.front().unicode()) {
    case u'+':
        return TextRole::DiffAdded;
    case u'-':
        return TextRole::DiffRemoved;
    case u'@':
        return TextRole::DiffHeader;
    case u'\\':
        return TextRole::Dim;
    default:
        return TextRole::Normal;
    }
}

} // namespace

void setUnifiedDiff(TranscriptDocument& document, QByteArrayView diff)
{
    // A line feed is never part of a multi-byte sequence nor of an ill-formed
    // one, so decoding the whole and then cutting lines equals doing it per line.
    const QString text = decodeUtf8(diff);
    std::vector<StyleRun> runs;
    // Until the first "@@", and again after a "diff " line, lines are a
    // file's header, where "--- a/x" names a file rather than removing a line.
    bool inHunk = false;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(u'\n', start);
        end = end < 0 ? text.size() : end + 1;
        const QStringView line = QStringView(text).sliced(start, end - start);
        TextRole role;
        if (startsWith(line, QLatin1StringView("diff "))) {
            inHunk = false;
            role = TextRole::DiffHeader;
        } else if (startsWith(line, QLatin1StringView("@@"))) {
            inHunk = true;
            role = TextRole::DiffHeader;
        } else if (inHunk) {
            role = hunkLineRole(line);
        } else {
            role = startsWith(line, QLatin1StringView("Binary files ")) ? TextRole::Dim
                                                                        : TextRole::DiffHeader;
        }
        if (runs.empty() || runs.back().role != role)
            runs.push_back({start, role});
        start = end;
    }
    document.restore(text, runs, {});
}
