#pragma once

#include "catalog/runstate.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

// The one-line status of a column: "Not installed" without a path, else by
// state: "Finished", "Exited (n)", "Killed by SIGNAME", "Ready", "Running…",
// "Stopped", "Failed". An end whose output is still arriving says so:
// "Finished (output still arriving)".
QString statusLabel(const std::optional<QByteArray>& path, RunState state,
                    bool outputStillArriving = false);

// A run's length as a column shows it: "0:07", "1:42", "1:02:09" (whole
// seconds, rounded down).
QString elapsedLabel(std::chrono::milliseconds elapsed);
