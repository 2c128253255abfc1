#pragma once

#include "agent/streamparser.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One entry of the fixed tool catalogue: the command name, which is also the
// tool's identity, and the words placed between the executable and the task.
struct ToolSpec {
    QString name;
    QStringList args;
    // For a tool that can write its work as JSON lines: the words that ask
    // for them, placed before `args`, and how to read them.
    QStringList structuredArgs = {};
    std::optional<StreamParser::Format> format = {};

    QString id() const { return name; }
    bool canStructure() const { return format.has_value(); }
    // The tool's arguments for a turn asking `prompt`: its own (after those
    // asking for JSON lines, when `structured` and it can), then the prompt,
    // each one argv element.
    QList<QByteArray> turnArguments(const QString& prompt, bool structured = false) const;

    // The catalogue, in display order. Built once on first use, never changed.
    static const QList<ToolSpec>& all();
};
