#include "catalog/toolspec.h"

#include <algorithm>

const QList<ToolSpec>& ToolSpec::all()
{
    static const QList<ToolSpec> catalogue{
        {.name = QStringLiteral("claude"),
         .args = {QStringLiteral("-p")},
         .structuredArgs = {QStringLiteral("--output-format"), QStringLiteral("stream-json"),
                            QStringLiteral("--verbose"),
                            QStringLiteral("--include-partial-messages")},
         .format = StreamParser::Format::Claude,
         .startOption = QStringLiteral("--session-id="),
         .resumeOption = QStringLiteral("--resume="),
         .addFolderOption = QStringLiteral("--add-dir="),
         .editArgs = {QStringLiteral("--permission-mode=acceptEdits")},
         .commandArgs = {QStringLiteral("--permission-mode=acceptEdits"),
                         QStringLiteral("--allowedTools=Bash")}},
        {.name = QStringLiteral("gemini"),
         .args = {QStringLiteral("-p")},
         .structuredArgs = {QStringLiteral("--output-format"), QStringLiteral("stream-json")},
         .format = StreamParser::Format::Gemini,
         .startOption = QStringLiteral("--session-id="),
         .resumeOption = QStringLiteral("--resume="),
         .untrustedStatus = 55,
         .trustOption = QStringLiteral("--skip-trust"),
         .addFolderOption = QStringLiteral("--include-directories="),
         .editArgs = {QStringLiteral("--approval-mode=auto_edit")},
         .commandArgs = {QStringLiteral("--approval-mode=yolo")}},
        // Options of hermes follow its subcommand.
        {.name = QStringLiteral("hermes"),
         .args = {QStringLiteral("chat"), QStringLiteral("-q")},
         .commandArgs = {QStringLiteral("--yolo")},
         .commandsNeedHelpWord = QStringLiteral("--yolo"),
         .accessArgsAt = 1},
    };
    return catalogue;
}

QList<QByteArray> ToolSpec::turnArguments(const QString& prompt, bool structured,
                                          const Conversation& conversation, bool trustFolder,
                                          const TurnAccess& access) const
{
    QStringList words;
    if (structured && canStructure())
        words += structuredArgs;
    if (canContinue() && !conversation.id.isEmpty())
        words.push_back((conversation.resume ? resumeOption : startOption) + conversation.id);
    if (trustFolder && !trustOption.isEmpty())
        words.push_back(trustOption);
    const qsizetype at = std::clamp<qsizetype>(accessArgsAt, 0, args.size());
    words += args.first(at);
    QList<QByteArray> arguments;
    for (const QString& word : std::as_const(words))
        arguments.push_back(word.toUtf8());
    // A folder's name is bytes, whatever they are.
    if (!access.addFolder.isEmpty() && !addFolderOption.isEmpty())
        arguments.push_back(addFolderOption.toUtf8() + access.addFolder);
    const QStringList& accessWords = access.commands ? commandArgs
                                     : access.edit   ? editArgs
                                                     : QStringList();
    for (const QString& word : accessWords)
        arguments.push_back(word.toUtf8());
    for (const QString& word : args.sliced(at))
        arguments.push_back(word.toUtf8());
    arguments.push_back(prompt.toUtf8());
    return arguments;
}
