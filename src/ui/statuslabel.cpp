#include "ui/statuslabel.h"

// Shown verbatim, never translated: the status line reads the same in every
// locale, like the tool name and the path.
QString statusLabel(const std::optional<QByteArray>& path, RunState state)
{
    if (!path)
        return QStringLiteral("Not installed");
    switch (state.kind()) {
    case RunState::Case::Done:
        if (state.status() == 0)
            return QStringLiteral("Finished");
        return QStringLiteral("Exited (%1)").arg(state.status());
    case RunState::Case::Idle:
        return QStringLiteral("Ready");
    case RunState::Case::Running:
        return QStringLiteral("Running\u2026");
    case RunState::Case::Stopped:
        return QStringLiteral("Stopped");
    case RunState::Case::Failed:
        return QStringLiteral("Failed");
    }
    return QString();
}
