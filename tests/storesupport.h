#pragma once

#include "store/historystore.h"
#include "testsupport.h"

#include <optional>

// Commits what `store` was given and waits for it: whether it is on disk.
inline bool commitHistory(HistoryStore& store)
{
    std::optional<bool> result;
    store.commitNow([&](bool ok) { result = ok; });
    return waitFor([&] { return result.has_value(); }) && *result;
}
