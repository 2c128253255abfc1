#include "catalog/detector.h"

#include "platform/capture.h"
#include "platform/files.h"
#include "platform/spawn.h"
#include "text/trim.h"

#include <QFile>

namespace {

Discovery answerFrom(const CaptureResult& shell)
{
    Discovery found;
    if (!shell.started) {
        found.shell = Discovery::ShellAnswer::NotStarted;
        found.shellError = systemErrorText(shell.error);
        return found;
    }
    if (shell.timedOut) {
        found.shell = Discovery::ShellAnswer::NoAnswer;
        return found;
    }
    // The profile may print anything before the answer, so the last line wins.
    const QList<QByteArray> lines = blankTrimmedLines(shell.output);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->startsWith('/') && isExecutableFile(*line)) {
            found.path = *line;
            found.shell = Discovery::ShellAnswer::Answered;
            return found;
        }
    }
    found.shell = Discovery::ShellAnswer::NotFound;
    return found;
}

} // namespace

QList<QByteArray> Detector::searchDirs()
{
    const QByteArray home = homeDirectory();
    return {QByteArrayLiteral("/opt/homebrew/bin"), QByteArrayLiteral("/usr/local/bin"),
            home + "/.local/bin", home + "/.npm-global/bin", home + "/.hermes/bin"};
}

std::optional<QByteArray> Detector::findInDirs(const QString& name)
{
    const QByteArray file = QFile::encodeName(name);
    for (const QByteArray& dir : searchDirs()) {
        QByteArray candidate = dir + '/' + file;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

QList<Discovery> Detector::askLoginShell(const QList<QString>& names,
                                         std::chrono::milliseconds shellTimeout,
                                         const WakeUpFd* cancel)
{
    // The name is spliced in unquoted: it is only ever a catalogue name, a plain word.
    QList<CaptureRequest> requests;
    for (const QString& name : names)
        requests.push_back({QByteArrayLiteral("/bin/zsh"),
                            {QByteArrayLiteral("-lc"), "command -v " + QFile::encodeName(name)}});
    QList<Discovery> found;
    for (const CaptureResult& shell : captureOutputs(requests, shellTimeout, cancel))
        found.push_back(answerFrom(shell));
    return found;
}

QList<Discovery> Detector::findAll(const QList<QString>& names,
                                   std::chrono::milliseconds shellTimeout, const WakeUpFd* cancel)
{
    QList<Discovery> found(names.size());
    QList<QString> missing;
    QList<qsizetype> missingAt;
    for (qsizetype i = 0; i < names.size(); ++i) {
        found[i].path = findInDirs(names[i]);
        if (!found[i].path) {
            missing.push_back(names[i]);
            missingAt.push_back(i);
        }
    }
    if (missing.isEmpty())
        return found;
    const QList<Discovery> answers = askLoginShell(missing, shellTimeout, cancel);
    for (qsizetype k = 0; k < answers.size(); ++k)
        found[missingAt[k]] = answers[k];
    return found;
}

Discovery Detector::find(const QString& name, std::chrono::milliseconds shellTimeout)
{
    return findAll({name}, shellTimeout).first();
}
