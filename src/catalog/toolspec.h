#pragma once

#include "agent/streamparser.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Which conversation of the tool a turn belongs to: one Brevane names itself,
// started by the turn or, with `resume`, continued by it.
struct Conversation {
    QString id;
    bool resume = false;
};

// What a turn may do besides reading. An agent working in a worktree of its
// own may edit it and touch its whole root, even when it runs in a folder
// below; running commands is for the user to allow.
struct TurnAccess {
    QByteArray addFolder; // empty: only the folder the tool runs in
    bool edit = false;
    bool commands = false; // implies edit
};

// One entry of the fixed tool catalogue: the command name, which is also the
// tool's identity, the words placed between the executable and the task, and
// how a turn starts or continues a conversation.
struct ToolSpec {
    QString name;
    QStringList args;
    // For a tool that can write its work as JSON lines: the words that ask
    // for them, placed before `args`, and how to read them.
    QStringList structuredArgs = {};
    std::optional<StreamParser::Format> format = {};
    // The options naming the conversation a turn starts and the one it
    // continues, each followed by the id in the same word, so that no id can
    // be read as an option. Empty: every turn is a conversation of its own.
    QString startOption = {};
    QString resumeOption = {};
    // The exit status by which the tool refuses a folder the user never
    // trusted, and the word that trusts it for one run; none: no such refusal.
    std::optional<int> untrustedStatus = {};
    QString trustOption = {};
    // The option that adds a folder to what the tool may touch (the folder
    // follows in the same word: the option takes several values and would
    // swallow the prompt otherwise); the words that let it edit files; and
    // those that let it edit and run commands, used instead. Placed at
    // `accessArgsAt` in `args`. `commandsNeedHelpWord`: versions differ, so
    // commands are allowed only where the tool's help lists this word.
    QString addFolderOption = {};
    QStringList editArgs = {};
    QStringList commandArgs = {};
    QString commandsNeedHelpWord = {};
    qsizetype accessArgsAt = 0;

    QString id() const { return name; }
    bool canStructure() const { return format.has_value(); }
    bool canContinue() const { return !resumeOption.isEmpty(); }
    // The tool's arguments for a turn asking `prompt` in `conversation`:
    // those asking for JSON lines (when `structured` and it can), the
    // conversation's, the one trusting the folder (when `trustFolder`), its
    // own with those of `access` among them, then the prompt; each one argv
    // element.
    QList<QByteArray> turnArguments(const QString& prompt, bool structured = false,
                                    const Conversation& conversation = {}, bool trustFolder = false,
                                    const TurnAccess& access = {}) const;

    // The catalogue, in display order. Built once on first use, never changed.
    static const QList<ToolSpec>& all();
};
