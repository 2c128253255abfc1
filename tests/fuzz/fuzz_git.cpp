// Whatever git's -z output a parser is given, what it reads back must be
// read the same again once written out in git's own form: nothing is made
// up, lost or mixed between records, and no input makes it fault.
#include "fuzzinput.h"
#include "git/gitparsers.h"

namespace {

QByteArray fields(const QList<QByteArray>& list)
{
    QByteArray out;
    for (const QByteArray& field : list)
        out += field + '\0';
    return out;
}

QByteArray written(const QList<GitWorktree>& worktrees)
{
    QByteArray out;
    for (const GitWorktree& w : worktrees) {
        out += fields({"worktree " + w.path});
        if (!w.head.isEmpty())
            out += fields({"HEAD " + w.head});
        if (!w.branch.isEmpty())
            out += fields({"branch " + w.branch});
        if (w.bare)
            out += fields({"bare"});
        if (w.detached)
            out += fields({"detached"});
        if (w.locked)
            out += fields({w.lockReason.isEmpty() ? "locked" : "locked " + w.lockReason});
        if (w.prunable)
            out +=
                fields({w.prunableReason.isEmpty() ? "prunable" : "prunable " + w.prunableReason});
        out += '\0';
    }
    return out;
}

QByteArray written(const QList<GitFileChange>& changes)
{
    static const char letters[] = "AMDRCT";
    QByteArray raw, numstat;
    for (const GitFileChange& c : changes) {
        raw += fields({':' + QByteArray::number(c.oldMode, 8) + ' ' +
                       QByteArray::number(c.newMode, 8) + ' ' + c.oldId + ' ' + c.newId + ' ' +
                       letters[int(c.kind)]});
        const bool twoPaths = !c.oldPath.isEmpty();
        raw += fields(twoPaths ? QList<QByteArray>{c.oldPath, c.path} : QList<QByteArray>{c.path});
        const QByteArray counts = c.binary ? "-\t-\t"
                                           : QByteArray::number(c.addedLines) + '\t' +
                                                 QByteArray::number(c.removedLines) + '\t';
        numstat += twoPaths ? fields({counts, c.oldPath, c.path}) : fields({counts + c.path});
    }
    return raw + numstat;
}

QByteArray written(const GitMergeOutput& merge)
{
    QByteArray out = fields({merge.tree}) + fields(merge.conflicts) + '\0';
    for (const GitMergeMessage& m : merge.messages)
        out += fields({QByteArray::number(m.paths.size())}) + fields(m.paths) +
               fields({m.type, m.text});
    return out;
}

bool same(const GitWorktree& a, const GitWorktree& b)
{
    return a.path == b.path && a.head == b.head && a.branch == b.branch && a.bare == b.bare &&
           a.detached == b.detached && a.locked == b.locked && a.lockReason == b.lockReason &&
           a.prunable == b.prunable && a.prunableReason == b.prunableReason;
}

bool same(const GitFileChange& a, const GitFileChange& b)
{
    return a.path == b.path && a.oldPath == b.oldPath && a.kind == b.kind &&
           a.oldMode == b.oldMode && a.newMode == b.newMode && a.oldId == b.oldId &&
           a.newId == b.newId && a.binary == b.binary && a.addedLines == b.addedLines &&
           a.removedLines == b.removedLines;
}

bool same(const GitMergeOutput& a, const GitMergeOutput& b)
{
    if (a.tree != b.tree || a.conflicts != b.conflicts || a.messages.size() != b.messages.size())
        return false;
    for (qsizetype i = 0; i < a.messages.size(); ++i) {
        const GitMergeMessage &x = a.messages[i], &y = b.messages[i];
        if (x.paths != y.paths || x.type != y.type || x.text != y.text)
            return false;
    }
    return true;
}

template <typename T> bool sameLists(const QList<T>& a, const QList<T>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!same(a[i], b[i]))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    const QList<GitWorktree> worktrees = parseWorktreeList(bytes);
    for (const GitWorktree& w : worktrees)
        require(!w.path.isEmpty(), "every worktree has a path");
    require(sameLists(parseWorktreeList(written(worktrees)), worktrees),
            "worktrees read back as written");

    const QList<GitFileChange> changes = parseRawNumstat(bytes);
    for (const GitFileChange& c : changes)
        require(!c.path.isEmpty() && (!c.binary || (c.addedLines == 0 && c.removedLines == 0)),
                "a change has a path, and a binary one no line counts");
    require(sameLists(parseRawNumstat(written(changes)), changes), "changes read back as written");

    const GitMergeOutput merge = parseMergeTree(bytes);
    require(!merge.conflicts.contains(QByteArray()), "no conflict without a path");
    require(same(parseMergeTree(written(merge)), merge), "merge output read back as written");
    return 0;
}
