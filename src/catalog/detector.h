#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// Executable discovery: turns a tool's command name into the path of an
// executable, looking first in five well-known directories and then asking
// the user's login shell. Stateless; every call looks at the disk afresh.
namespace Detector {

// How long the login shell may take before the tool counts as not found.
inline constexpr std::chrono::milliseconds defaultShellTimeout{10'000};

// "/opt/homebrew/bin", "/usr/local/bin", then the home directory followed by
// "/.local/bin", "/.npm-global/bin" and "/.hermes/bin" (plain concatenation,
// nothing normalised). Whether the directories exist is not tested.
QStringList searchDirs();

// The first executable directory + "/" + name, exactly as formed; otherwise
// the last line printed by "/bin/zsh -lc 'command -v name'" that, with blanks
// trimmed, starts with "/" and is executable. Blocks the caller while the
// shell runs, at most for `shellTimeout`; the shell has been reaped when this
// returns. Never throws: every failure ends as std::nullopt.
std::optional<QString> find(const QString& name);
std::optional<QString> find(const QString& name, std::chrono::milliseconds shellTimeout);

} // namespace Detector
