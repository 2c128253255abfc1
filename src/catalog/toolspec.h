#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One entry of the fixed tool catalogue: the command name, which is also the
// tool's identity, and the words placed between the executable and the task.
struct ToolSpec {
    QString name;
    QStringList args;

    QString id() const { return name; }
    // The tool's arguments for a turn asking `prompt`: its own, then the
    // prompt, each one argv element.
    QList<QByteArray> turnArguments(const QString& prompt) const;

    // The catalogue, in display order. Built once on first use, never changed.
    static const QList<ToolSpec>& all();
};
