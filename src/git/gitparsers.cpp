#include "git/gitparsers.h"

#include <QHash>

#include <optional>

namespace {

// Hands out the NUL-terminated fields of `text` in turn; a last field
// without its NUL counts too.
class Fields {
public:
    explicit Fields(QByteArrayView text)
        : m_text(text)
    {
    }

    bool atEnd() const { return m_at >= m_text.size(); }
    // The next field, if any, without taking it.
    std::optional<QByteArrayView> peek() const
    {
        if (atEnd())
            return std::nullopt;
        const qsizetype end = m_text.indexOf('\0', m_at);
        return m_text.sliced(m_at, (end < 0 ? m_text.size() : end) - m_at);
    }
    std::optional<QByteArrayView> next()
    {
        std::optional<QByteArrayView> field = peek();
        if (field)
            m_at += field->size() + 1;
        return field;
    }

private:
    QByteArrayView m_text;
    qsizetype m_at = 0;
};

// The text after "key " when `field` is "key" or "key text".
std::optional<QByteArrayView> attribute(QByteArrayView field, QByteArrayView key)
{
    if (!field.startsWith(key))
        return std::nullopt;
    const QByteArrayView rest = field.sliced(key.size());
    if (rest.isEmpty())
        return rest;
    if (rest.front() != ' ')
        return std::nullopt;
    return rest.sliced(1);
}

std::optional<int> octal(QByteArrayView text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 8);
    return ok && !text.isEmpty() && text.front() != '-' && text.front() != '+'
               ? std::optional<int>(value)
               : std::nullopt;
}

std::optional<qint64> decimal(QByteArrayView text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && !text.isEmpty() && text.front() >= '0' && text.front() <= '9'
               ? std::optional<qint64>(value)
               : std::nullopt;
}

std::optional<GitFileChange::Kind> kindOf(char status)
{
    switch (status) {
    case 'A':
        return GitFileChange::Kind::Added;
    case 'D':
        return GitFileChange::Kind::Deleted;
    case 'R':
        return GitFileChange::Kind::Renamed;
    case 'C':
        return GitFileChange::Kind::Copied;
    case 'T':
        return GitFileChange::Kind::TypeChanged;
    case 'M':
    case 'U': // unmerged, only between an index and a tree
    case 'X':
        return GitFileChange::Kind::Modified;
    default:
        return std::nullopt;
    }
}

// ":OLDMODE NEWMODE OLDID NEWID STATUS[SCORE]" and its one or two paths.
std::optional<GitFileChange> rawRecord(QByteArrayView header, Fields& fields)
{
    QList<QByteArrayView> parts;
    for (QByteArrayView rest = header.sliced(1);;) {
        const qsizetype space = rest.indexOf(' ');
        parts.push_back(space < 0 ? rest : rest.first(space));
        if (space < 0)
            break;
        rest = rest.sliced(space + 1);
    }
    if (parts.size() != 5 || parts[4].isEmpty())
        return std::nullopt;
    const std::optional<int> oldMode = octal(parts[0]);
    const std::optional<int> newMode = octal(parts[1]);
    const std::optional<GitFileChange::Kind> kind = kindOf(parts[4].front());
    if (!oldMode || !newMode || !kind)
        return std::nullopt;
    GitFileChange change;
    change.kind = *kind;
    change.oldMode = *oldMode;
    change.newMode = *newMode;
    change.oldId = parts[2].toByteArray();
    change.newId = parts[3].toByteArray();
    const bool twoPaths =
        *kind == GitFileChange::Kind::Renamed || *kind == GitFileChange::Kind::Copied;
    const std::optional<QByteArrayView> first = fields.next();
    const std::optional<QByteArrayView> second = twoPaths ? fields.next() : first;
    // git never writes an empty path; taking one would also make a numstat
    // record of it look like a rename's.
    if (!first || !second || first->isEmpty() || second->isEmpty())
        return std::nullopt;
    if (twoPaths)
        change.oldPath = first->toByteArray();
    change.path = second->toByteArray();
    return change;
}

} // namespace

QList<GitWorktree> parseWorktreeList(QByteArrayView output)
{
    QList<GitWorktree> worktrees;
    Fields fields(output);
    while (std::optional<QByteArrayView> field = fields.next()) {
        // Each entry starts with its path and ends with an empty field.
        const std::optional<QByteArrayView> path = attribute(*field, "worktree");
        if (!path || path->isEmpty())
            break;
        GitWorktree worktree;
        worktree.path = path->toByteArray();
        while ((field = fields.next()) && !field->isEmpty()) {
            if (auto value = attribute(*field, "HEAD")) {
                worktree.head = value->toByteArray();
            } else if ((value = attribute(*field, "branch"))) {
                worktree.branch = value->toByteArray();
            } else if (*field == "bare") {
                worktree.bare = true;
            } else if (*field == "detached") {
                worktree.detached = true;
            } else if ((value = attribute(*field, "locked"))) {
                worktree.locked = true;
                worktree.lockReason = value->toByteArray();
            } else if ((value = attribute(*field, "prunable"))) {
                worktree.prunable = true;
                worktree.prunableReason = value->toByteArray();
            }
            // Attributes of later versions of git are passed over.
        }
        worktrees.push_back(std::move(worktree));
    }
    return worktrees;
}

QList<GitFileChange> parseRawNumstat(QByteArrayView output)
{
    QList<GitFileChange> changes;
    Fields fields(output);
    while (std::optional<QByteArrayView> field = fields.peek()) {
        if (!field->startsWith(':'))
            break;
        fields.next();
        std::optional<GitFileChange> change = rawRecord(*field, fields);
        if (!change)
            return changes;
        changes.push_back(std::move(*change));
    }

    QHash<QByteArray, qsizetype> byPath;
    for (qsizetype i = 0; i < changes.size(); ++i)
        byPath.insert(changes[i].path, i);
    // "ADDED\tREMOVED\tPATH", or "ADDED\tREMOVED\t" then the old and new
    // paths as fields of their own; "-" for both counts of a binary file.
    while (std::optional<QByteArrayView> field = fields.next()) {
        const qsizetype tab1 = field->indexOf('\t');
        const qsizetype tab2 = tab1 < 0 ? -1 : field->indexOf('\t', tab1 + 1);
        if (tab2 < 0)
            break;
        const QByteArrayView added = field->first(tab1);
        const QByteArrayView removed = field->sliced(tab1 + 1, tab2 - tab1 - 1);
        QByteArrayView path = field->sliced(tab2 + 1);
        if (path.isEmpty()) {
            const std::optional<QByteArrayView> from = fields.next();
            const std::optional<QByteArrayView> to = fields.next();
            if (!from || !to)
                break;
            path = *to;
        }
        const auto found = byPath.constFind(path.toByteArray());
        if (found == byPath.cend())
            continue;
        GitFileChange& change = changes[*found];
        const bool binary = added == "-" && removed == "-";
        const std::optional<qint64> addedLines = binary ? 0 : decimal(added);
        const std::optional<qint64> removedLines = binary ? 0 : decimal(removed);
        if (!addedLines || !removedLines)
            break;
        change.binary = binary;
        change.addedLines = *addedLines;
        change.removedLines = *removedLines;
    }
    return changes;
}

GitMergeOutput parseMergeTree(QByteArrayView output)
{
    GitMergeOutput merge;
    Fields fields(output);
    const std::optional<QByteArrayView> tree = fields.next();
    if (!tree)
        return merge;
    merge.tree = tree->toByteArray();
    // The conflicted paths, up to an empty field.
    while (std::optional<QByteArrayView> path = fields.next()) {
        if (path->isEmpty())
            break;
        if (!merge.conflicts.contains(*path))
            merge.conflicts.push_back(path->toByteArray());
    }
    // Then each message: how many paths, the paths, its type, its text.
    while (std::optional<QByteArrayView> countField = fields.next()) {
        const std::optional<qint64> count = decimal(*countField);
        if (!count)
            break;
        GitMergeMessage message;
        bool complete = true;
        for (qint64 i = 0; i < *count && complete; ++i) {
            const std::optional<QByteArrayView> path = fields.next();
            complete = path.has_value();
            if (path)
                message.paths.push_back(path->toByteArray());
        }
        const std::optional<QByteArrayView> type = fields.next();
        const std::optional<QByteArrayView> text = fields.next();
        if (!complete || !type || !text)
            break;
        message.type = type->toByteArray();
        message.text = text->toByteArray();
        merge.messages.push_back(std::move(message));
    }
    return merge;
}
