#pragma once

#include "git/gitparsers.h"

#include <QByteArray>
#include <QList>

#include <optional>

// One file that some agent changed, with what each agent did to it.
struct ComparedFile {
    QByteArray path;
    // One entry per agent, in the agents' order; none: left alone.
    QList<std::optional<GitFileChange>> byAgent;
    int touchedBy = 0; // how many agents changed it
};

// The files the agents changed, each once, sorted by path (bytes), from
// each agent's change set in the agents' order. A rename counts under its
// new path. Linear in the changes, besides the sort.
QList<ComparedFile> compareChanges(const QList<QList<GitFileChange>>& perAgent);
