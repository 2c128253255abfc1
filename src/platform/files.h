#pragma once

#include <QString>

// The current user's home directory: $HOME when it is set and not empty,
// otherwise the user's entry in the password database; empty when neither
// gives one.
QString homeDirectory();

// True when `path` exists and the current user may execute it (for a
// directory: search it). No check that it is a regular file.
bool isExecutable(const QString& path);
