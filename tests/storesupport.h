#pragma once

#include "store/historystore.h"
#include "testsupport.h"

#include <QSignalSpy>

#include <optional>

// Commits what `store` was given and waits for it: whether it is on disk.
inline bool commitHistory(HistoryStore& store)
{
    std::optional<bool> result;
    store.commitNow([&](bool ok) { result = ok; });
    return waitFor([&] { return result.has_value(); }) && *result;
}

// Lists the panel's sessions again until `condition` holds once they are listed.
// (A history panel: the suites without widgets include this too.)
template <typename Panel, typename Condition> bool listedUntil(Panel* panel, Condition condition)
{
    return waitFor([&] {
        QSignalSpy listed(panel, &Panel::listed);
        panel->refresh();
        return listed.wait(deadline) && condition();
    });
}
