#pragma once

#include "catalog/runstate.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The one-line status of a column: "Not installed" without a path, else by
// state: "Finished", "Exited (n)", "Ready", "Running…", "Stopped", "Failed".
QString statusLabel(const std::optional<QByteArray>& path, RunState state);
