#pragma once

class HistoryStore;
class ProcessOwner;
class QSettings;

// What every window of the app shares, each outliving the windows: the
// owner of child processes and threads, the history (none: kept off) and
// the user's settings (none: nothing remembered).
struct AppServices {
    ProcessOwner& owner;
    HistoryStore* history = nullptr;
    QSettings* settings = nullptr;
};
