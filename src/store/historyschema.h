#pragma once

#include <span>

// The history's tables, version by version. A file's version is in its
// PRAGMA user_version (0: a new, empty file); HistoryDatabase takes a file
// of any earlier version to the current one, step by step, in one
// transaction.
namespace HistorySchema {

// The version this Brevane writes.
constexpr int current = 4;

// The statements that take a file from `version` - 1 to `version`
// (1 ≤ version ≤ current), each to be run alone. Each step stays as it was
// first written, so that a test can make a file of any earlier version.
// Filling the text index for rows a file already holds (version 2) is left
// to HistoryDatabase, which knows how turns lie in their transcripts.
std::span<const char* const> stepTo(int version);

} // namespace HistorySchema
