#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

class WakeUpFd;

// Where discovery found a tool, or, when it did not, what the login shell
// answered. Paths are bytes, exactly as the file system gave them: a path
// that is not valid UTF-8, or holds a line break, still reaches the launch.
struct Discovery {
    enum class ShellAnswer {
        NotAsked,   // found in one of the folders
        Answered,   // the shell printed the path
        NotFound,   // the shell printed no usable path
        NoAnswer,   // the shell did not finish within its bound
        NotStarted, // the shell could not be started: see shellError
    };

    std::optional<QByteArray> path;
    ShellAnswer shell = ShellAnswer::NotAsked;
    QString shellError;
};

// Executable discovery: turns a tool's command name into the path of an
// executable, looking first in five well-known folders and then asking the
// user's login shell. Stateless; every call looks at the disk afresh. Only a
// regular file the user may execute counts.
namespace Detector {

// How long the login shell may take before the tool counts as not found.
inline constexpr std::chrono::milliseconds defaultShellTimeout{10'000};

// "/opt/homebrew/bin", "/usr/local/bin", then the home directory followed by
// "/.local/bin", "/.npm-global/bin" and "/.hermes/bin" (plain concatenation,
// nothing normalised). Whether the folders exist is not tested.
QList<QByteArray> searchDirs();

// The first folder + "/" + name that is an executable file, exactly as formed.
std::optional<QByteArray> findInDirs(const QString& name);

// Asks "/bin/zsh -lc 'command -v NAME'" for every name at once; for each, the
// last printed line that, with blanks trimmed, starts with "/" and is an
// executable file. Blocks the caller while the shells run, at most for
// `shellTimeout` in all; they have been reaped when this returns.
// A raised `cancel` ends them all at once, as not answered.
QList<Discovery> askLoginShell(const QList<QString>& names, std::chrono::milliseconds shellTimeout,
                               const WakeUpFd* cancel = nullptr);

// Both steps for every name: the folders first, then one round of login
// shells for the names not found there. Never throws.
QList<Discovery> findAll(const QList<QString>& names,
                         std::chrono::milliseconds shellTimeout = defaultShellTimeout,
                         const WakeUpFd* cancel = nullptr);
Discovery find(const QString& name, std::chrono::milliseconds shellTimeout = defaultShellTimeout);

} // namespace Detector
