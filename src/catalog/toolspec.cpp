#include "catalog/toolspec.h"

const QList<ToolSpec>& ToolSpec::all()
{
    static const QList<ToolSpec> catalogue{
        {QStringLiteral("claude"),
         {QStringLiteral("-p")},
         {QStringLiteral("--output-format"), QStringLiteral("stream-json"),
          QStringLiteral("--verbose"), QStringLiteral("--include-partial-messages")},
         StreamParser::Format::Claude},
        {QStringLiteral("gemini"),
         {QStringLiteral("-p")},
         {QStringLiteral("--output-format"), QStringLiteral("stream-json")},
         StreamParser::Format::Gemini},
        {QStringLiteral("hermes"), {QStringLiteral("chat"), QStringLiteral("-q")}},
    };
    return catalogue;
}

QList<QByteArray> ToolSpec::turnArguments(const QString& prompt, bool structured) const
{
    QList<QByteArray> arguments;
    const QStringList words = structured && canStructure() ? structuredArgs + args : args;
    for (const QString& arg : words)
        arguments.push_back(arg.toUtf8());
    arguments.push_back(prompt.toUtf8());
    return arguments;
}
