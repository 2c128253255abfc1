#include "catalog/detector.h"

#include "platform/capture.h"
#include "platform/files.h"
#include "text/trim.h"
#include "text/utf8.h"

#include <QFile>

namespace {

std::optional<QString> askLoginShell(const QString& name, std::chrono::milliseconds timeout)
{
    // The name is spliced in unquoted: it is only ever a catalogue name, a plain word.
    const CaptureResult shell = captureOutput(
        QByteArrayLiteral("/bin/zsh"),
        {QByteArrayLiteral("-lc"), QByteArrayLiteral("command -v ") + QFile::encodeName(name)},
        timeout);
    if (!shell.started || shell.timedOut)
        return std::nullopt;

    // The profile may print anything before the answer, so the last line wins.
    const QStringList lines = nonEmptyLines(decodeUtf8(shell.output));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        QString path = trimmedBlanks(*line);
        if (path.startsWith(u'/') && isExecutable(path))
            return path;
    }
    return std::nullopt;
}

} // namespace

QStringList Detector::searchDirs()
{
    const QString home = homeDirectory();
    return {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
            home + QStringLiteral("/.local/bin"), home + QStringLiteral("/.npm-global/bin"),
            home + QStringLiteral("/.hermes/bin")};
}

std::optional<QString> Detector::find(const QString& name)
{
    return find(name, defaultShellTimeout);
}

std::optional<QString> Detector::find(const QString& name, std::chrono::milliseconds shellTimeout)
{
    for (const QString& dir : searchDirs()) {
        QString candidate = dir + u'/' + name;
        if (isExecutable(candidate))
            return candidate;
    }
    return askLoginShell(name, shellTimeout);
}
