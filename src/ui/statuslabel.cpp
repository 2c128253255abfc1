#include "ui/statuslabel.h"

#include "platform/spawn.h"

#include <algorithm>

// Shown verbatim, never translated: the status line reads the same in every
// locale, like the tool name and the path.
QString statusLabel(const std::optional<QByteArray>& path, RunState state, bool outputStillArriving)
{
    if (!path)
        return QStringLiteral("Not installed");
    const QString arriving =
        outputStillArriving ? QStringLiteral(" (output still arriving)") : QString();
    switch (state.kind()) {
    case RunState::Case::Done:
        if (state.status() == 0)
            return QStringLiteral("Finished") + arriving;
        return QStringLiteral("Exited (%1)").arg(state.status()) + arriving;
    case RunState::Case::Killed: {
        const QString name = signalName(state.signal());
        return (name.isEmpty() ? QStringLiteral("Killed by signal %1").arg(state.signal())
                               : QStringLiteral("Killed by ") + name) +
               arriving;
    }
    case RunState::Case::Idle:
        return QStringLiteral("Ready");
    case RunState::Case::Running:
        return QStringLiteral("Running\u2026");
    case RunState::Case::Stopped:
        return QStringLiteral("Stopped");
    case RunState::Case::Failed:
        return QStringLiteral("Failed");
    case RunState::Case::Interrupted:
        return QStringLiteral("Interrupted");
    case RunState::Case::Preparing:
        return QStringLiteral("Preparing\u2026");
    }
    return QString();
}

QString elapsedLabel(std::chrono::milliseconds elapsed)
{
    const long long seconds = std::max<long long>(0, elapsed.count() / 1000);
    const bool hours = seconds >= 3600;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(seconds / 60 % 60, hours ? 2 : 1, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QString::number(seconds / 3600) + u':' + minutesAndSeconds : minutesAndSeconds;
}
