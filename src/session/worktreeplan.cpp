#include "session/worktreeplan.h"

#include "git/changes.h"
#include "git/repository.h"
#include "git/worktrees.h"
#include "platform/files.h"
#include "platform/spawn.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray worktreesFolder = "worktrees";

// A session's or tool's name, which becomes a ref's component and a
// folder's name: nothing git or the file system would read differently.
bool isPlainName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u'.') || name.startsWith(u'-') || name.contains(u"..") ||
        name.endsWith(u".lock"))
        return false;
    for (QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'-' && c != u'_' && c != u'.')
            return false;
    }
    return true;
}

QString text(const QByteArray& path)
{
    return QString::fromUtf8(path);
}

bool exists(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

std::optional<QByteArray> canonical(const QByteArray& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.constData(), resolved))
        return std::nullopt;
    return QByteArray(resolved);
}

// Makes `path` (absolute) and every folder above it that is missing.
// 0 or an errno value.
int makePath(const QByteArray& path)
{
    for (qsizetype slash = path.indexOf('/', 1); slash != -1;
         slash = path.indexOf('/', slash + 1)) {
        if (::mkdir(path.first(slash).constData(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    return isDirectory(path) ? 0 : ENOTDIR;
}

QByteArray lastComponent(const QByteArray& path)
{
    return path.sliced(path.lastIndexOf('/') + 1);
}

QByteArray parentOf(const QByteArray& path)
{
    return path.first(std::max<qsizetype>(path.lastIndexOf('/'), 0));
}

QByteArray sessionRefs(const QString& sessionId)
{
    return "refs/brevane/" + sessionId.toUtf8() + '/';
}

// The session's folder in the data folder, once its last worktree is gone.
void removeSessionFolder(const QByteArray& worktree)
{
    const QByteArray session = parentOf(worktree);
    if (lastComponent(parentOf(session)) == worktreesFolder)
        ::rmdir(session.constData()); // fails, as it should, while it holds anything
}

bool isListed(const QList<GitWorktree>& list, const QByteArray& path)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const GitWorktree& entry) { return entry.path == path; });
}

} // namespace

GitResult<QList<PreparedWorktree>>
prepareWorktrees(const WorktreePlan& plan,
                 const std::function<bool(const QList<PlannedWorktree>&)>& recordBeforeCreating,
                 const GitContext& context)
{
    if (!isPlainName(plan.sessionId))
        return GitError{QStringLiteral("Not a session's name: %1").arg(plan.sessionId)};
    if (plan.tools.isEmpty() ||
        QSet<QString>(plan.tools.begin(), plan.tools.end()).size() != plan.tools.size())
        return GitError{QStringLiteral("Not a list of tools: %1").arg(plan.tools.join(u", "))};
    for (const QString& tool : plan.tools) {
        if (!isPlainName(tool))
            return GitError{QStringLiteral("Not a tool's name: %1").arg(tool)};
    }
    if (!plan.dataFolder.startsWith('/'))
        return GitError{QStringLiteral("Not an absolute path: %1").arg(text(plan.dataFolder))};

    GitResult<GitRepository> repository = Git::discover(plan.folder, context);
    if (!repository)
        return GitError{repository.error()};
    if (!repository->found)
        return GitError{QStringLiteral("%1 is not in a git repository").arg(text(plan.folder))};
    const QByteArray top = repository->topLevel;
    if (top.isEmpty())
        return GitError{
            QStringLiteral("%1 is not in a git repository's work tree").arg(text(plan.folder))};

    // Git lists worktrees by their real paths; so are they recorded, and
    // so is the data folder held against the repository.
    const QByteArray worktrees = plan.dataFolder + '/' + worktreesFolder;
    if (const int error = makePath(worktrees))
        return GitError{
            QStringLiteral("Could not make %1: %2").arg(text(worktrees), systemErrorText(error))};
    const std::optional<QByteArray> home = canonical(worktrees);
    if (!home)
        return GitError{
            QStringLiteral("Could not find %1: %2").arg(text(worktrees), systemErrorText(errno))};
    if (*home == top || home->startsWith(top + '/'))
        return GitError{QStringLiteral("Brevane's data folder %1 lies inside the repository %2")
                            .arg(text(plan.dataFolder), text(top))};

    // "sub/folder/", raw, whatever bytes it holds; empty at the top.
    GitResult<QByteArray> prefix =
        Git::output({plan.folder, {"rev-parse", "--show-prefix"}}, context);
    if (!prefix)
        return GitError{prefix.error()};
    QByteArray subfolder = *prefix;
    if (subfolder.endsWith('\n'))
        subfolder.chop(1);
    while (subfolder.endsWith('/'))
        subfolder.chop(1);

    const QByteArray refs = sessionRefs(plan.sessionId);
    const GitResult<QByteArray> base = plan.baseCommit.isEmpty()
                                           ? Git::snapshot(top, repository->head, context)
                                           : GitResult<QByteArray>(plan.baseCommit);
    if (!base)
        return GitError{base.error()};
    if (plan.baseCommit.isEmpty()) {
        if (const GitResult<void> set = Git::setRef(top, refs + "base", *base, context); !set)
            return GitError{set.error()};
    }

    const QByteArray sessionFolder =
        *home + '/' + lastComponent(top) + '-' + plan.sessionId.toUtf8();
    QList<PlannedWorktree> planned;
    for (const QString& tool : plan.tools)
        planned.push_back({tool, top, sessionFolder + '/' + tool.toUtf8(), *base, subfolder});

    if (!recordBeforeCreating(planned)) {
        // Nothing on record would lead to the refs: they go too, unless
        // earlier worktrees of the session hold them.
        // Also after a Stop: the snapshot holds the user's uncommitted files.
        GitContext cleanup = context;
        cleanup.cancel = nullptr;
        if (plan.baseCommit.isEmpty())
            (void)Git::deleteRefs(top, refs, cleanup);
        return GitError{QStringLiteral("The worktrees could not be recorded, so none was made")};
    }

    QList<PreparedWorktree> prepared;
    for (const PlannedWorktree& worktree : std::as_const(planned)) {
        PreparedWorktree& made = prepared.emplace_back();
        made.worktree = worktree;
        if (const GitResult<void> added =
                Git::addWorktree(top, worktree.path, worktree.baseCommit, context);
            !added) {
            made.error = added.error();
            continue;
        }
        made.created = true;
        made.hasSubmodules = exists(worktree.path + "/.gitmodules");
        if (const GitResult<QList<QByteArray>> copied =
                Git::copyWorktreeIncludes(top, worktree.path, context);
            !copied) {
            made.error = copied.error();
            continue;
        }
        // A folder that holds nothing the snapshot has (only ignored files,
        // say) is not in the worktree.
        if (!isDirectory(worktree.runFolder())) {
            if (const int error = makeFolders(worktree.path, worktree.subfolder))
                made.error = QStringLiteral("Could not make %1: %2")
                                 .arg(text(worktree.runFolder()), systemErrorText(error));
        }
    }
    return prepared;
}

DiscardedWorktrees discardWorktrees(const QByteArray& repoTop, const QString& sessionId,
                                    const QList<QByteArray>& paths, const GitContext& context)
{
    DiscardedWorktrees discarded;
    std::optional<GitResult<QList<GitWorktree>>> list;
    for (const QByteArray& path : paths) {
        const GitResult<void> removed = Git::removeWorktree(repoTop, path, context);
        if (removed) {
            discarded.removed.push_back(path);
            removeSessionFolder(path);
            continue;
        }
        // Gone already, folder and entry: nothing is left to remove.
        if (!list)
            list = Git::listWorktrees(repoTop, context);
        if (!exists(path) && list->ok() && !isListed(list->value(), path)) {
            discarded.removed.push_back(path);
            removeSessionFolder(path);
            continue;
        }
        discarded.errors.push_back(removed.error());
    }
    // The base stays while a worktree made from it does.
    if (!sessionId.isEmpty() && discarded.errors.isEmpty()) {
        if (!isPlainName(sessionId)) {
            discarded.errors.push_back(QStringLiteral("Not a session's name: %1").arg(sessionId));
        } else if (const GitResult<void> deleted =
                       Git::deleteRefs(repoTop, sessionRefs(sessionId), context);
                   !deleted) {
            discarded.errors.push_back(deleted.error());
        }
    }
    return discarded;
}

WorktreeCheck findLeftovers(const QList<KnownWorktree>& known, const QByteArray& dataFolder,
                            const GitContext& context)
{
    WorktreeCheck check;
    const QByteArray worktrees = dataFolder + '/' + worktreesFolder;
    const QByteArray home = canonical(worktrees).value_or(worktrees) + '/';

    QList<QByteArray> repositories;
    for (const KnownWorktree& worktree : known) {
        if (!repositories.contains(worktree.repositoryTop))
            repositories.push_back(worktree.repositoryTop);
    }
    for (const QByteArray& top : std::as_const(repositories)) {
        const GitResult<QList<GitWorktree>> list = Git::listWorktrees(top, context);
        if (!list) {
            check.errors.push_back(QStringLiteral("%1: %2").arg(text(top), list.error()));
            continue;
        }
        QSet<QByteArray> knownPaths;
        for (const KnownWorktree& worktree : known) {
            if (worktree.repositoryTop != top)
                continue;
            knownPaths.insert(worktree.path);
            const bool listed = isListed(*list, worktree.path);
            if (!exists(worktree.path)) {
                // This entry alone: `git worktree prune` would drop the
                // user's stale entries with it.
                if (listed) {
                    if (const GitResult<void> removed =
                            Git::removeWorktree(top, worktree.path, context);
                        !removed) {
                        check.errors.push_back(removed.error());
                        continue;
                    }
                }
                check.gone.push_back(worktree);
            } else if (!worktree.ready && listed) {
                check.leftovers.push_back(worktree);
            }
        }
        // The first is the main worktree, which is never Brevane's.
        for (qsizetype i = 1; i < list->size(); ++i) {
            const GitWorktree& entry = list->at(i);
            if (entry.path.startsWith(home) && !knownPaths.contains(entry.path) && !entry.bare)
                check.leftovers.push_back({QString(), top, entry.path, false});
        }
    }
    return check;
}

GitResult<AgentSnapshot> snapshotAgent(const PlannedWorktree& worktree, const QString& sessionId,
                                       int turn, const GitContext& context)
{
    if (!isPlainName(sessionId) || !isPlainName(worktree.tool) || turn < 1)
        return GitError{QStringLiteral("Not a turn of a session: %1").arg(sessionId)};
    const QByteArray refs = sessionRefs(sessionId) + worktree.tool.toUtf8() + '/';
    AgentSnapshot snapshot;
    snapshot.turnFrom = worktree.baseCommit;
    // The turn before may have left no snapshot (it failed before the tool ran).
    for (int earlier = turn - 1; earlier >= 1; --earlier) {
        const GitResult<CommandResult> found =
            Git::run({worktree.repositoryTop,
                      {"rev-parse", "--verify", "--quiet",
                       refs + QByteArray::number(earlier) + "^{commit}"}},
                     context);
        if (!found)
            return GitError{found.error()};
        if (found->succeeded()) {
            snapshot.turnFrom = found->output.trimmed();
            break;
        }
    }
    GitResult<QByteArray> commit = Git::snapshot(worktree.path, snapshot.turnFrom, context);
    if (!commit)
        return GitError{commit.error()};
    snapshot.commit = *commit;
    if (const GitResult<void> set =
            Git::setRef(worktree.repositoryTop, refs + QByteArray::number(turn), *commit, context);
        !set)
        return GitError{set.error()};
    GitResult<QList<GitFileChange>> whole =
        Git::changes(worktree.repositoryTop, worktree.baseCommit, *commit, context);
    if (!whole)
        return GitError{whole.error()};
    snapshot.whole = *whole;
    GitResult<QList<GitFileChange>> inTurn =
        Git::changes(worktree.repositoryTop, snapshot.turnFrom, *commit, context);
    if (!inTurn)
        return GitError{inTurn.error()};
    snapshot.turn = *inTurn;
    return snapshot;
}
