#include "catalog/toolspec.h"

const QList<ToolSpec>& ToolSpec::all()
{
    static const QList<ToolSpec> catalogue{
        {QStringLiteral("claude"), {QStringLiteral("-p")}},
        {QStringLiteral("gemini"), {QStringLiteral("-p")}},
        {QStringLiteral("hermes"), {QStringLiteral("chat"), QStringLiteral("-q")}},
    };
    return catalogue;
}

QList<QByteArray> ToolSpec::turnArguments(const QString& prompt) const
{
    QList<QByteArray> arguments;
    for (const QString& arg : args)
        arguments.push_back(arg.toUtf8());
    arguments.push_back(prompt.toUtf8());
    return arguments;
}
