#include "catalog/toolspec.h"

const QList<ToolSpec>& ToolSpec::all()
{
    static const QList<ToolSpec> catalogue{
        {QStringLiteral("claude"),
         {QStringLiteral("-p")},
         {QStringLiteral("--output-format"), QStringLiteral("stream-json"),
          QStringLiteral("--verbose"), QStringLiteral("--include-partial-messages")},
         StreamParser::Format::Claude,
         QStringLiteral("--session-id="),
         QStringLiteral("--resume=")},
        {QStringLiteral("gemini"),
         {QStringLiteral("-p")},
         {QStringLiteral("--output-format"), QStringLiteral("stream-json")},
         StreamParser::Format::Gemini,
         QStringLiteral("--session-id="),
         QStringLiteral("--resume="),
         55,
         QStringLiteral("--skip-trust")},
        {QStringLiteral("hermes"), {QStringLiteral("chat"), QStringLiteral("-q")}},
    };
    return catalogue;
}

QList<QByteArray> ToolSpec::turnArguments(const QString& prompt, bool structured,
                                          const Conversation& conversation, bool trustFolder) const
{
    QStringList words;
    if (structured && canStructure())
        words += structuredArgs;
    if (canContinue() && !conversation.id.isEmpty())
        words.push_back((conversation.resume ? resumeOption : startOption) + conversation.id);
    if (trustFolder && !trustOption.isEmpty())
        words.push_back(trustOption);
    words += args;
    words.push_back(prompt);
    QList<QByteArray> arguments;
    for (const QString& word : std::as_const(words))
        arguments.push_back(word.toUtf8());
    return arguments;
}
