#include "model/brevanemodel.h"

#include "git/changes.h"
#include "git/worktrees.h"
#include "platform/command.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "platform/processowner.h"
#include "platform/spawn.h"
#include "text/trim.h"

#include <QPointer>
#include <QUuid>

#include <algorithm>
#include <future>

namespace {

// The assembled result's worktree: in the session's folder, as the agents'
// are, named as no tool is.
QByteArray assembledPathBeside(const QByteArray& agentWorktree)
{
    return agentWorktree.first(std::max<qsizetype>(agentWorktree.lastIndexOf('/'), 0)) +
           "/assembled";
}

} // namespace

BrevaneModel::BrevaneModel(ProcessOwner& owner, QObject* parent)
    : BrevaneModel(owner, defaultWorkingFolder(), parent)
{
}

BrevaneModel::BrevaneModel(ProcessOwner& owner, const QByteArray& workingFolder, QObject* parent)
    : QObject(parent)
    , m_owner(owner)
    , m_workingFolder(workingFolder)
    , m_assembledRun(owner)
{
    connect(&m_assembledRun, &CheckRun::ended, this, &BrevaneModel::assembledRunEnded);
    for (const ToolSpec& spec : ToolSpec::all()) {
        auto* runner = new AgentSession(owner, spec, this);
        connect(runner, &AgentSession::changed, this, &BrevaneModel::changed);
        // What the agent changed is taken as soon as its turn is over.
        connect(runner, &AgentSession::runEnded, this, [this, runner, index = m_runners.size()] {
            // Checked after the snapshot, so that what the check makes is
            // never taken for the agent's work.
            m_checkAfterSnapshot[index] =
                m_allowCommands && runner->state().isDone() && !checkSetting().command.isEmpty();
            refreshChanges(index);
            // No snapshot, no check: nothing to judge it on or put back.
            if (!runner->worktreeChanges().computing)
                m_checkAfterSnapshot[index] = false;
        });
        // After the above: whether a check follows is known by then.
        connect(runner, &AgentSession::runEnded, this, &BrevaneModel::handleRunEnded);
        // Before settling: the worktree is put back first.
        connect(runner, &AgentSession::checkEnded, this,
                [this, index = m_runners.size()] { restoreAfterCheck(index); });
        connect(runner, &AgentSession::checkEnded, this, &BrevaneModel::changed);
        connect(runner, &AgentSession::checkEnded, this, &BrevaneModel::settleIfDone);
        m_runners.push_back(runner);
        m_included.push_back(true);
        m_checkAfterSnapshot.push_back(false);
        m_checkedSnapshot.push_back({});
        m_restoringAfterCheck.push_back(false);
    }
    checkRepository();
}

QByteArray BrevaneModel::defaultWorkingFolder()
{
    // Started from a desktop menu, the app's own folder is "/": no project.
    const QByteArray current = currentDirectory();
    return current.isEmpty() || current == "/" ? homeDirectory() : current;
}

void BrevaneModel::setWorkingFolder(const QByteArray& folder)
{
    // The tools keep their conversations per folder: another folder is
    // another session, now if nothing runs, else at the next Run.
    const bool moved = folder != m_workingFolder;
    m_workingFolder = folder;
    if (moved && canStartNewSession())
        newSession();
    if (moved)
        checkRepository();
    Q_EMIT changed();
}

bool BrevaneModel::sessionStarted() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return !r->turns().isEmpty(); });
}

bool BrevaneModel::canStartNewSession() const
{
    return sessionStarted() && !busy();
}

bool BrevaneModel::busy() const
{
    return anyRunning() || m_prepareCancel || m_discarding || anyCheckRunning() || m_assembling ||
           m_applying;
}

void BrevaneModel::newSession()
{
    if (!canStartNewSession())
        return;
    Q_EMIT sessionEnding();
    for (AgentSession* runner : std::as_const(m_runners))
        runner->clearSession();
    m_sessionFolder.clear();
    m_sessionId.clear();
    m_sessionCreatedAt = QDateTime();
    m_sessionWorktrees = false;
    m_worktreesDiscarded = false;
    m_baseCommit.clear();
    forgetAssembledWorktree();
    dropPendingChecks();
    Q_EMIT changed();
}

bool BrevaneModel::restoreSession(const QString& id, const QByteArray& folder,
                                  const QDateTime& createdAt,
                                  const QMap<QString, AgentSession::Kept>& agents,
                                  const std::optional<PlannedWorktree>& assembled)
{
    if (busy())
        return false;
    dropPendingChecks();
    forgetAssembledWorktree();
    // Discarded with the session's; its setup runs again before its first
    // check here, as it may never have run.
    m_assembledWorktree = assembled;
    m_assembledSetupPending = assembled.has_value();
    if (sessionStarted())
        Q_EMIT sessionEnding();
    for (AgentSession* runner : std::as_const(m_runners)) {
        runner->clearSession();
        if (const auto kept = agents.find(runner->id()); kept != agents.end())
            runner->restore(*kept);
    }
    const bool moved = folder != m_workingFolder;
    m_workingFolder = folder;
    m_sessionFolder = folder;
    m_sessionId = id;
    m_sessionCreatedAt = createdAt;
    // Worktrees discarded in an earlier window stay discarded: a follow-up
    // in the folder itself would not find the work they held.
    m_worktreesDiscarded =
        std::any_of(agents.begin(), agents.end(),
                    [](const AgentSession::Kept& kept) { return kept.worktreeDiscarded; });
    m_sessionWorktrees = m_worktreesDiscarded;
    m_baseCommit.clear();
    for (const AgentSession* runner : std::as_const(m_runners)) {
        if (runner->worktree()) {
            m_sessionWorktrees = true;
            m_baseCommit = runner->worktree()->baseCommit;
        }
    }
    if (moved)
        checkRepository();
    for (qsizetype i = 0; i < m_runners.size(); ++i)
        refreshChanges(i);
    Q_EMIT changed();
    return true;
}

bool BrevaneModel::canTrustFolderAndRetry(qsizetype index) const
{
    const AgentSession* runner = m_runners.value(index);
    // A worktree session's agent runs in its worktree or not at all.
    return runner && runner->refusedUntrustedFolder() && runner->path() && !busy() &&
           !(m_sessionWorktrees && !runner->worktree());
}

void BrevaneModel::trustFolderAndRetry(qsizetype index)
{
    if (!canTrustFolderAndRetry(index))
        return;
    if (!m_trustedFolders.contains(m_sessionFolder))
        m_trustedFolders.push_back(m_sessionFolder);
    AgentSession* runner = m_runners[index];
    if (!runner->path())
        return;
    runner->beginTurn(runner->task());
    AgentSession::TurnOptions options = turnOptions(*runner);
    options.trustFolder = true;
    runner->launch(options);
    m_runActive = anyRunning();
    m_settling = m_settling || m_runActive;
}

QString BrevaneModel::workingFolderText() const
{
    return QString::fromUtf8(m_workingFolder);
}

void BrevaneModel::setIncluded(qsizetype index, bool included)
{
    if (index < 0 || index >= m_included.size())
        return;
    m_included[index] = included;
    Q_EMIT changed();
}

BrevaneModel::~BrevaneModel()
{
    // A preparation waiting for its record gives up: nobody is left to make it.
    if (m_prepareCancel)
        m_prepareCancel->raise();
}

void BrevaneModel::setPlainOutput(bool plain)
{
    m_plainOutput = plain;
    Q_EMIT changed();
}

void BrevaneModel::setTask(const QString& task)
{
    m_task = task;
    Q_EMIT changed();
}

void BrevaneModel::setScanning(bool scanning)
{
    m_scanning = scanning;
    Q_EMIT changed();
}

bool BrevaneModel::anyRunning() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return r->state().isActive(); });
}

bool BrevaneModel::anyInstalled() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return r->path().has_value(); });
}

bool BrevaneModel::anyIncludedInstalled() const
{
    for (qsizetype i = 0; i < m_runners.size(); ++i) {
        if (m_included[i] && m_runners[i]->path())
            return true;
    }
    return false;
}

bool BrevaneModel::canRun() const
{
    // One preparation at a time: a stopped one may still be ending, and
    // two would write the same session's refs.
    // A first turn waits to know whether it gets worktrees, not to run
    // without them only because it came early.
    const bool lookingForRepository =
        !sessionStarted() && m_recordWorktrees && !m_dataFolder.isEmpty() && !m_repository.done;
    return !holdsOnlyBlanksAndLineBreaks(m_task) && anyIncludedInstalled() && !anyRunning() &&
           !m_discarding && !m_prepareCancel && !lookingForRepository && !anyCheckRunning() &&
           !m_assembling && !m_applying &&
           !(m_worktreesDiscarded && m_sessionFolder == m_workingFolder);
}

bool BrevaneModel::canStop() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return r->canStop() || r->checkRunning(); }) ||
           m_assembledRun.running();
}

bool BrevaneModel::canRescan() const
{
    return !m_scanning && !anyRunning();
}

void BrevaneModel::scan()
{
    setScanning(true);
    QStringList names;
    for (const ToolSpec& spec : ToolSpec::all())
        names.push_back(spec.name);

    // The thread reads nothing of the model; a model destroyed before the
    // search ends simply never hears of it.
    QPointer<BrevaneModel> self(this);
    const quint64 scanId = ++m_scanId;
    ProcessOwner* owner = &m_owner;
    owner->startThread(
        [names, self, scanId, owner, timeout = m_shellTimeout](const WakeUpFd& quit) {
            const QList<Discovery> found = Detector::findAll(names, timeout, &quit);
            if (quit.raised())
                return;
            owner->handOver([self, scanId, found] {
                // Scans may overlap; only the latest one says what is installed
                // now, and only it ends the scanning.
                if (self && scanId == self->m_scanId)
                    self->applyScan(found);
            });
        });
}

void BrevaneModel::applyScan(const QList<Discovery>& found)
{
    const qsizetype n = std::min(m_runners.size(), found.size());
    for (qsizetype i = 0; i < n; ++i) {
        // A tool found anew is in the next run; one that stays keeps its choice.
        if (!m_runners[i]->path() && found[i].path)
            m_included[i] = true;
        m_runners[i]->setDiscovery(found[i]);
    }
    setScanning(false);
}

void BrevaneModel::start()
{
    if (!canRun())
        return;
    const QString task = trimmedBlanksAndLineBreaks(m_task);
    if (sessionStarted() && m_sessionFolder != m_workingFolder)
        newSession();
    if (!sessionStarted()) {
        m_sessionFolder = m_workingFolder;
        m_sessionId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_sessionCreatedAt = QDateTime::currentDateTimeUtc();
        m_sessionWorktrees = m_separateWorktrees && worktreesUnavailable().isEmpty();
    }
    // Checked once for all: either every included tool starts here or none does.
    const int error = folderError(m_sessionFolder);
    QList<AgentSession*> toPrepare;
    for (qsizetype i = 0; i < m_runners.size(); ++i) {
        AgentSession* runner = m_runners[i];
        if (!m_included[i] || !runner->path())
            continue;
        runner->beginTurn(task);
        if (error) {
            runner->failLaunch(QString::fromUtf8(m_sessionFolder) + QStringLiteral(": ") +
                               systemErrorText(error));
        } else if (m_sessionWorktrees && !runner->worktree()) {
            runner->setPreparing();
            toPrepare.push_back(runner);
        } else {
            runner->launch(turnOptions(*runner));
        }
    }
    if (!toPrepare.isEmpty())
        prepareWorktrees(toPrepare);
    m_runActive = anyRunning();
    m_settling = m_settling || m_runActive;
    // What was assembled came from work that goes on now.
    m_assembled.reset();
    m_assembledCheck.reset();
    // A task is sent once: the field is ready for the follow-up, and a
    // second Return does not send it again.
    setTask(QString());
}

AgentSession::TurnOptions BrevaneModel::turnOptions(const AgentSession& agent) const
{
    AgentSession::TurnOptions options;
    options.plainOutput = m_plainOutput;
    options.trustFolder = m_trustedFolders.contains(m_sessionFolder);
    if (const std::optional<PlannedWorktree>& worktree = agent.worktree()) {
        options.folder = worktree->runFolder();
        options.access = {worktree->path, true, m_allowCommands};
    } else {
        options.folder = m_sessionFolder;
    }
    return options;
}

bool BrevaneModel::recordFromWorker(QPointer<BrevaneModel> self, ProcessOwner* owner,
                                    const QList<PlannedWorktree>& planned, const WakeUpFd& cancel)
{
    auto promise = std::make_shared<std::promise<bool>>();
    std::future<bool> recorded = promise->get_future();
    owner->handOver([self, planned, promise] {
        if (!self || !self->m_recordWorktrees) {
            promise->set_value(false);
            return;
        }
        self->m_recordWorktrees(planned, [promise](bool ok) { promise->set_value(ok); });
    });
    while (recorded.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (cancel.raised())
            return false;
    }
    return recorded.get() && !cancel.raised();
}

void BrevaneModel::prepareWorktrees(const QList<AgentSession*>& agents)
{
    WorktreePlan plan;
    plan.folder = m_sessionFolder;
    plan.sessionId = m_sessionId;
    plan.dataFolder = m_dataFolder;
    plan.baseCommit = m_baseCommit;
    // The word that lets a tool run commands, where its versions differ:
    // asked of its help at the place the word goes.
    struct HelpQuestion {
        QList<QByteArray> command;
        QByteArray word;
    };
    QMap<QString, HelpQuestion> helpCommands;
    for (const AgentSession* agent : agents) {
        plan.tools.push_back(agent->id());
        const ToolSpec& spec = agent->spec();
        if (!spec.commandsNeedHelpWord.isEmpty()) {
            QList<QByteArray> words;
            for (const QString& word :
                 spec.args.first(std::min(spec.accessArgsAt, spec.args.size())))
                words.push_back(word.toUtf8());
            words.push_back("--help");
            helpCommands.insert(agent->id(), {QList<QByteArray>{*agent->path()} + words,
                                              spec.commandsNeedHelpWord.toUtf8()});
        }
    }
    if (m_prepareCancel)
        m_prepareCancel->raise();
    auto cancel = std::make_shared<WakeUpFd>();
    m_prepareCancel = cancel;
    QPointer<BrevaneModel> self(this);
    ProcessOwner* owner = &m_owner;
    // Put on record by the GUI thread, committed, before git makes them;
    // the worker waits for that, or for a Stop.
    auto record = [self, owner, cancel](const QList<PlannedWorktree>& planned) {
        return recordFromWorker(self, owner, planned, *cancel);
    };
    owner->startThread([plan, record, cancel, self, owner, helpCommands](const WakeUpFd& quit) {
        if (quit.raised())
            return;
        GitContext context;
        context.cancel = cancel.get();
        GitResult<QList<PreparedWorktree>> result = ::prepareWorktrees(plan, record, context);
        QMap<QString, bool> supported;
        for (auto it = helpCommands.begin(); result && it != helpCommands.end(); ++it) {
            // Through the login shell, as the tool runs, its path an
            // argument the shell only passes on; in Brevane's own folder.
            const CommandRequest request{
                QByteArrayLiteral("/bin/zsh"),
                QList<QByteArray>{"-lc", "exec \"$0\" \"$@\""} + it->command, plan.dataFolder};
            const CommandResult help = runCommand(request, std::chrono::seconds(20), cancel.get());
            // Only a help that was read to its end says the word is missing.
            if (!help.started || help.timedOut || help.cancelled || help.signal)
                continue;
            const QByteArray listed = ' ' + it->word;
            supported.insert(it.key(),
                             help.output.contains(listed) || help.errorOutput.contains(listed));
        }
        owner->handOver([self, sessionId = plan.sessionId, result = std::move(result), supported] {
            if (self)
                self->applyPrepared(sessionId, result, supported);
        });
    });
}

void BrevaneModel::applyPrepared(const QString& sessionId,
                                 const GitResult<QList<PreparedWorktree>>& result,
                                 const QMap<QString, bool>& commandsSupported)
{
    m_prepareCancel.reset();
    // Run waited for this preparation to be over.
    Q_EMIT changed();
    // The session cannot change while it prepares; should it have, what
    // was made is another session's, which its rows lead to.
    if (sessionId != m_sessionId)
        return;
    auto agent = [this](const QString& tool) -> AgentSession* {
        for (AgentSession* runner : std::as_const(m_runners)) {
            if (runner->id() == tool)
                return runner;
        }
        return nullptr;
    };
    for (auto it = commandsSupported.begin(); it != commandsSupported.end(); ++it) {
        if (AgentSession* runner = agent(it.key()))
            runner->setCommandsSupported(it.value());
    }
    if (!result) {
        for (AgentSession* runner : std::as_const(m_runners)) {
            if (runner->state().isPreparing() && !runner->worktree())
                runner->fail(tr("Could not make a worktree: %1").arg(result.error()));
        }
        return;
    }
    for (const PreparedWorktree& prepared : result.value()) {
        const QString setup =
            m_setupCommands ? m_setupCommands(prepared.worktree.repositoryTop) : QString();
        AgentSession* runner = agent(prepared.worktree.tool);
        if (!runner)
            continue;
        // Made is made, even for a turn stopped meanwhile: Discard finds it.
        if (prepared.created) {
            runner->setWorktree(prepared.worktree);
            m_baseCommit = prepared.worktree.baseCommit;
        }
        if (!runner->state().isPreparing())
            continue;
        if (prepared.hasSubmodules)
            runner->note(tr("The repository's submodules are not set up in this worktree: "
                            "their folders are empty."));
        if (!prepared.error.isEmpty()) {
            runner->fail(tr("Could not make a worktree: %1").arg(prepared.error));
        } else if (!setup.trimmed().isEmpty()) {
            runner->runSetup(setup.toUtf8(), prepared.worktree.path, turnOptions(*runner));
        } else {
            runner->launch(turnOptions(*runner));
        }
    }
}

void BrevaneModel::setSeparateWorktrees(bool on)
{
    if (sessionStarted() || on == m_separateWorktrees)
        return;
    m_separateWorktrees = on;
    Q_EMIT changed();
}

void BrevaneModel::setAllowCommands(bool allow)
{
    if (allow == m_allowCommands)
        return;
    m_allowCommands = allow;
    Q_EMIT changed();
}

void BrevaneModel::setWorktreeStorage(const QByteArray& dataFolder, WorktreeRecorder record)
{
    m_dataFolder = dataFolder;
    m_recordWorktrees = std::move(record);
    Q_EMIT changed();
}

void BrevaneModel::setSetupCommands(std::function<QString(const QByteArray&)> lookup)
{
    m_setupCommands = std::move(lookup);
}

QString BrevaneModel::worktreesUnavailable() const
{
    if (m_dataFolder.isEmpty() || !m_recordWorktrees)
        return tr("History is off: without it, nothing could find the worktrees again");
    if (!m_repository.done)
        return tr("Looking for a git repository\u2026");
    if (!m_repository.error.isEmpty())
        return m_repository.error;
    const GitRepository& repository = m_repository.repository;
    if (!repository.found)
        return tr("%1 is not in a git repository").arg(workingFolderText());
    if (repository.bare || repository.topLevel.isEmpty())
        return tr("The repository has no work tree: it is bare");
    switch (repository.inProgress) {
    case GitRepository::Operation::None:
        break;
    case GitRepository::Operation::Merge:
        return tr("The repository is in the middle of a merge");
    case GitRepository::Operation::Rebase:
        return tr("The repository is in the middle of a rebase");
    case GitRepository::Operation::CherryPick:
        return tr("The repository is in the middle of a cherry-pick");
    case GitRepository::Operation::Revert:
        return tr("The repository is in the middle of a revert");
    }
    return QString();
}

void BrevaneModel::checkRepository()
{
    QPointer<BrevaneModel> self(this);
    const quint64 checkId = ++m_repositoryCheckId;
    m_repository = {};
    ProcessOwner* owner = &m_owner;
    owner->startThread([folder = m_workingFolder, self, checkId, owner](const WakeUpFd& quit) {
        GitContext context;
        context.cancel = &quit;
        context.timeout = std::chrono::seconds(30);
        GitResult<GitRepository> found = Git::discover(folder, context);
        if (quit.raised())
            return;
        owner->handOver([self, checkId, found = std::move(found)] {
            if (!self || checkId != self->m_repositoryCheckId)
                return;
            RepositoryCheck& check = self->m_repository;
            check.done = true;
            check.error = found ? QString() : found.error();
            check.repository = found ? *found : GitRepository();
            self->m_repositoryTop = check.repository.topLevel;
            Q_EMIT self->changed();
        });
    });
}

template <typename Result>
void BrevaneModel::runGit(std::function<Result(const GitContext&)> work,
                          std::function<void(const Result&)> done)
{
    QPointer<BrevaneModel> self(this);
    ProcessOwner* owner = &m_owner;
    owner->startThread(
        [work = std::move(work), done = std::move(done), self, owner](const WakeUpFd& quit) {
            GitContext context;
            context.cancel = &quit;
            Result result = work(context);
            if (quit.raised())
                return;
            owner->handOver([self, done, result = std::move(result)] {
                if (self)
                    done(result);
            });
        });
}

bool BrevaneModel::canRefreshChanges(qsizetype index) const
{
    const AgentSession* agent = m_runners.value(index);
    return agent && agent->worktree() && !agent->state().isActive() &&
           !agent->worktreeChanges().computing && !agent->turns().isEmpty() &&
           !agent->checkRunning() && !m_restoringAfterCheck.value(index);
}

void BrevaneModel::refreshChanges(qsizetype index)
{
    if (!canRefreshChanges(index))
        return;
    AgentSession* agent = m_runners[index];
    AgentSession::WorktreeChanges changes = agent->worktreeChanges();
    changes.computing = true;
    agent->setWorktreeChanges(changes);
    const PlannedWorktree worktree = *agent->worktree();
    const int turn = int(agent->turns().size());
    QPointer<AgentSession> target(agent);
    QPointer<BrevaneModel> self(this);
    runGit<GitResult<AgentSnapshot>>(
        [worktree, sessionId = m_sessionId, turn](const GitContext& context) {
            return snapshotAgent(worktree, sessionId, turn, context);
        },
        [self, index, target, worktree, turn](const GitResult<AgentSnapshot>& result) {
            // Another session's worktree by now: what was taken is not its.
            if (!target || target->worktree() != worktree) {
                // No check for a worktree that is gone or another's.
                if (self && index < self->m_checkAfterSnapshot.size()) {
                    self->m_checkAfterSnapshot[index] = false;
                    self->settleIfDone();
                }
                return;
            }
            AgentSession::WorktreeChanges changes = target->worktreeChanges();
            changes.computing = false;
            if (result) {
                changes.snapshot = *result;
                changes.error.clear();
            } else {
                changes.error = result.error();
            }
            target->setWorktreeChanges(changes);
            // A turn that ended meanwhile found a snapshot under way.
            if (target->turns().size() != turn) {
                self->refreshChanges(index);
            } else if (self->m_checkAfterSnapshot.value(index)) {
                self->m_checkAfterSnapshot[index] = false;
                self->startCheck(index);
                self->settleIfDone();
            }
        });
}

void BrevaneModel::setCheckCommands(std::function<CheckSetting(const QByteArray&)> lookup)
{
    m_checkCommands = std::move(lookup);
    Q_EMIT changed();
}

BrevaneModel::CheckSetting BrevaneModel::checkSetting() const
{
    for (const AgentSession* agent : m_runners) {
        if (agent->worktree() && m_checkCommands) {
            CheckSetting setting = m_checkCommands(agent->worktree()->repositoryTop);
            if (setting.command.trimmed().isEmpty())
                setting.command.clear();
            return setting;
        }
    }
    return {};
}

bool BrevaneModel::canRunCheck(qsizetype index) const
{
    const AgentSession* agent = m_runners.value(index);
    return agent && agent->worktree() && !m_worktreesDiscarded && !m_discarding &&
           agent->canRunCheck() && !m_restoringAfterCheck.value(index) &&
           !agent->turns().isEmpty() && !checkSetting().command.isEmpty();
}

void BrevaneModel::runCheck(qsizetype index)
{
    if (!canRunCheck(index))
        return;
    // A snapshot of the worktree just before the check goes first (or the
    // one under way): what is there then, an edit of the user's too, is
    // what the check judges and what the worktree is put back to.
    m_checkAfterSnapshot[index] = true;
    refreshChanges(index);
    if (!m_runners[index]->worktreeChanges().computing)
        m_checkAfterSnapshot[index] = false;
}

void BrevaneModel::startCheck(qsizetype index)
{
    if (!canRunCheck(index))
        return;
    AgentSession* agent = m_runners[index];
    // What the check writes is put back afterwards, so that no later
    // snapshot takes it for the agent's work; unless the snapshot failed,
    // when what is there may be the agent's and stays.
    const AgentSession::WorktreeChanges& changes = agent->worktreeChanges();
    m_checkedSnapshot[index] = changes.error.isEmpty() ? changes.snapshot.commit : QByteArray();
    const CheckSetting check = checkSetting();
    agent->runCheck(check.command.toUtf8(), agent->worktree()->path, check.timeLimit);
    m_settling = m_settling || agent->checkRunning();
}

void BrevaneModel::restoreAfterCheck(qsizetype index)
{
    const AgentSession* agent = m_runners[index];
    const QByteArray commit = std::exchange(m_checkedSnapshot[index], QByteArray());
    if (commit.isEmpty() || !agent->worktree())
        return;
    m_restoringAfterCheck[index] = true;
    QPointer<AgentSession> target(m_runners[index]);
    putBackAfterCheck(agent->worktree()->path, commit,
                      [this, index, target](const QString& failure) {
                          m_restoringAfterCheck[index] = false;
                          if (!failure.isEmpty() && target)
                              target->note(failure);
                      });
}

void BrevaneModel::putBackAfterCheck(const QByteArray& path, const QByteArray& commit,
                                     std::function<void(const QString& failure)> done)
{
    QPointer<BrevaneModel> self(this);
    runGit<GitResult<void>>(
        [path, commit](const GitContext& context) {
            return Git::restoreFiles(path, commit, context);
        },
        [self, done = std::move(done)](const GitResult<void>& restored) {
            done(restored
                     ? QString()
                     : tr("What the check wrote stays in the worktree: %1").arg(restored.error()));
            Q_EMIT self->changed();
            self->settleIfDone();
        });
}

bool BrevaneModel::canRunChecks() const
{
    for (qsizetype i = 0; i < m_runners.size(); ++i) {
        if (canRunCheck(i))
            return true;
    }
    return false;
}

void BrevaneModel::runChecks()
{
    for (qsizetype i = 0; i < m_runners.size(); ++i)
        runCheck(i);
}

bool BrevaneModel::anyCheckRunning() const
{
    // One waiting for its snapshot is as good as running: nothing may
    // overtake it.
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return r->checkRunning(); }) ||
           m_checkAfterSnapshot.contains(true) || m_restoringAfterCheck.contains(true) ||
           m_assembledRun.running() || m_assembledGitWork;
}

void BrevaneModel::dropPendingChecks()
{
    m_checkAfterSnapshot.fill(false);
}

void BrevaneModel::loadDiff(qsizetype index, const GitFileChange& change, bool thisTurn,
                            std::function<void(const GitResult<QByteArray>&)> done)
{
    const AgentSession* agent = m_runners.value(index);
    if (!agent || !agent->worktree() || agent->worktreeChanges().snapshot.commit.isEmpty()) {
        done(GitError{tr("No snapshot of the worktree yet")});
        return;
    }
    const AgentSnapshot& snapshot = agent->worktreeChanges().snapshot;
    const QByteArray from = thisTurn ? snapshot.turnFrom : agent->worktree()->baseCommit;
    runGit<GitResult<QByteArray>>(
        [top = agent->worktree()->repositoryTop, from, to = snapshot.commit,
         change](const GitContext& context) {
            return Git::diffText(top, from, to, change.path, change.oldPath, context);
        },
        std::move(done));
}

QByteArray BrevaneModel::agentCommit(qsizetype index) const
{
    if (index == m_runners.size())
        return m_assembled ? m_assembled->commit : QByteArray();
    const AgentSession* agent = m_runners.value(index);
    if (!agent || !agent->worktree())
        return QByteArray();
    const QByteArray& snapshot = agent->worktreeChanges().snapshot.commit;
    return snapshot.isEmpty() ? agent->worktree()->baseCommit : snapshot;
}

void BrevaneModel::compareVersions(const QByteArray& path, const QByteArray& from,
                                   const QByteArray& to,
                                   std::function<void(const GitResult<QList<SideBySideRow>>&)> done)
{
    QByteArray top;
    for (const AgentSession* agent : std::as_const(m_runners)) {
        if (agent->worktree())
            top = agent->worktree()->repositoryTop;
    }
    if (top.isEmpty()) {
        done(GitError{tr("The session has no worktrees")});
        return;
    }
    runGit<GitResult<QList<SideBySideRow>>>(
        [top, path, from, to](const GitContext& context) -> GitResult<QList<SideBySideRow>> {
            const GitResult<QByteArray> diff = Git::wholeFileDiff(top, from, to, path, context);
            if (!diff)
                return GitError{diff.error()};
            QList<SideBySideRow> rows = alignUnifiedDiff(*diff);
            if (rows.isEmpty() && !diff->isEmpty())
                return GitError{tr("The versions differ in what cannot be shown as lines: a "
                                   "binary file, or only its mode.")};
            return rows;
        },
        std::move(done));
}

bool BrevaneModel::canAssemble() const
{
    return m_sessionWorktrees && !m_worktreesDiscarded && !m_baseCommit.isEmpty() &&
           !anyRunning() && !m_assembling && !m_applying && !m_discarding &&
           !m_assembledRun.running() && !m_assembledGitWork;
}

void BrevaneModel::setPicks(const QMap<QByteArray, qsizetype>& picks)
{
    if (picks == m_picks)
        return;
    m_picks = picks;
    // What was assembled from the old picks is not applied.
    m_assembled.reset();
    Q_EMIT changed();
}

void BrevaneModel::assemble(std::function<void(const GitResult<Assembled>&)> done)
{
    if (!canAssemble()) {
        done(GitError{tr("Nothing can be assembled now")});
        return;
    }
    QList<GitFileChange> changes;
    std::optional<PlannedWorktree> beside;
    for (auto pick = m_picks.begin(); pick != m_picks.end(); ++pick) {
        const AgentSession* agent = m_runners.value(pick.value());
        if (!agent || !agent->worktree())
            continue;
        beside = agent->worktree();
        for (const GitFileChange& change : agent->worktreeChanges().snapshot.whole) {
            if (change.path == pick.key())
                changes << change;
        }
    }
    if (changes.isEmpty() || !beside) {
        done(GitError{tr("No file is picked")});
        return;
    }
    // Beside the agents' worktrees, where the first Assemble makes it.
    const QByteArray top = beside->repositoryTop;
    PlannedWorktree place{assembledName, top, assembledPathBeside(beside->path), m_baseCommit,
                          beside->subfolder};
    WorktreePlan plan{m_sessionFolder, m_sessionId, {place.tool}, m_dataFolder};
    m_assembling = true;
    Q_EMIT changed();
    QPointer<BrevaneModel> self(this);
    struct Made {
        Assembled assembled;
        std::optional<PlannedWorktree> worktree; // where it stands, once it does
        bool created = false;
        QString worktreeError; // the commit stands, its worktree does not
    };
    runGit<GitResult<Made>>(
        [top, base = m_baseCommit, sessionId = m_sessionId, changes, place, plan, self,
         owner = &m_owner](const GitContext& context) mutable -> GitResult<Made> {
            const GitResult<QByteArray> commit = Git::combine(top, base, changes, context);
            if (!commit)
                return GitError{commit.error()};
            if (const GitResult<void> set = Git::setRef(
                    top, "refs/brevane/" + sessionId.toUtf8() + "/assembled", *commit, context);
                !set)
                return GitError{set.error()};
            const GitResult<QList<GitFileChange>> whole = Git::changes(top, base, *commit, context);
            if (!whole)
                return GitError{whole.error()};
            Made made;
            made.assembled = {*commit, *whole};
            if (isDirectory(place.path)) {
                if (const GitResult<void> moved = Git::moveWorktree(place.path, *commit, context);
                    !moved)
                    made.worktreeError = moved.error();
                made.worktree = place;
                made.worktree->baseCommit = *commit;
                return made;
            }
            plan.baseCommit = *commit;
            const GitResult<QList<PreparedWorktree>> prepared = ::prepareWorktrees(
                plan,
                [&](const QList<PlannedWorktree>& planned) {
                    return recordFromWorker(self, owner, planned, *context.cancel);
                },
                context);
            if (!prepared) {
                made.worktreeError = prepared.error();
            } else {
                made.worktreeError = prepared->first().error;
                made.created = prepared->first().created;
                if (made.created)
                    made.worktree = prepared->first().worktree;
            }
            return made;
        },
        [self, sessionId = m_sessionId, picks = m_picks,
         done = std::move(done)](const GitResult<Made>& made) {
            self->m_assembling = false;
            const bool current = sessionId == self->m_sessionId && picks == self->m_picks;
            if (made && current) {
                self->m_assembled = made->assembled;
                if (made->created)
                    self->m_assembledSetupPending = true;
                // Checked only where the files are the result's; Discard
                // finds the worktree all the same, beside the agents'.
                self->m_assembledWorktree =
                    made->worktreeError.isEmpty() ? made->worktree : std::nullopt;
                self->m_assembledCheck.reset();
            }
            Q_EMIT self->changed();
            if (!made)
                done(GitError{made.error()});
            else if (!current)
                done(GitError{tr("The picks changed meanwhile: assemble again")});
            else if (!made->worktreeError.isEmpty())
                done(GitError{tr("Assembled, but without a worktree to check it in: %1")
                                  .arg(made->worktreeError)});
            else
                done(made->assembled);
            if (made && made->worktreeError.isEmpty() && current && self->m_allowCommands)
                self->checkAssembled();
        });
}

bool BrevaneModel::canCheckAssembled() const
{
    return m_assembled && m_assembledWorktree && canAssemble() && !checkSetting().command.isEmpty();
}

void BrevaneModel::checkAssembled()
{
    if (!canCheckAssembled())
        return;
    const QString setup = m_assembledSetupPending && m_setupCommands
                              ? m_setupCommands(m_assembledWorktree->repositoryTop).trimmed()
                              : QString();
    m_assembledSetupPending = false;
    m_assembledCheck = CheckResult{};
    m_settling = true;
    if (setup.isEmpty()) {
        startAssembledCheck();
        return;
    }
    m_assembledRunIsSetup = true;
    announceAssembled(tr("Setup: %1\n").arg(setup));
    m_assembledRun.start(setup.toUtf8(), m_assembledWorktree->runFolder(), checkSetting().timeLimit,
                         [this](const QString& text) { appendAssembledOutput(text); });
    Q_EMIT changed();
}

void BrevaneModel::startAssembledCheck()
{
    if (!m_assembled || !m_assembledWorktree) {
        m_assembledCheck.reset();
        settleIfDone();
        return;
    }
    // A snapshot first, after the setup: the check judges it, and the
    // worktree goes back to it afterwards.
    m_assembledGitWork = true;
    const quint64 checkId = ++m_assembledCheckId;
    Q_EMIT changed();
    QPointer<BrevaneModel> self(this);
    runGit<GitResult<QByteArray>>(
        [path = m_assembledWorktree->path, commit = m_assembled->commit](
            const GitContext& context) { return Git::snapshot(path, commit, context); },
        [self, checkId](const GitResult<QByteArray>& taken) {
            self->m_assembledGitWork = false;
            const CheckSetting check = self->checkSetting();
            // Stopped, or another result or session by now.
            if (checkId != self->m_assembledCheckId || !self->m_assembledWorktree ||
                check.command.isEmpty()) {
                if (self->m_assembledCheck && self->m_assembledCheck->running())
                    self->endAssembledCheck({CheckResult::Outcome::Stopped, 0, 0, {}});
                Q_EMIT self->changed();
                self->settleIfDone();
                return;
            }
            self->m_assembledRestoreTo = taken ? *taken : QByteArray();
            self->announceAssembled(tr("Check: %1\n").arg(check.command));
            self->m_assembledRun.start(
                check.command.toUtf8(), self->m_assembledWorktree->runFolder(), check.timeLimit,
                [self](const QString& text) { self->appendAssembledOutput(text); });
            Q_EMIT self->changed();
        });
}

void BrevaneModel::announceAssembled(const QString& line)
{
    if (!m_assembledOutput.isEmpty() && !m_assembledOutput.endsWith(u'\n'))
        appendAssembledOutput(QStringLiteral("\n"));
    appendAssembledOutput(line);
}

void BrevaneModel::appendAssembledOutput(const QString& text)
{
    // Only its end is worth keeping: a window opened later shows that.
    constexpr qsizetype kept = 1 << 20;
    if (m_assembledOutput.size() > 2 * kept)
        m_assembledOutput.remove(0, m_assembledOutput.size() - kept);
    m_assembledOutput += text;
    Q_EMIT assembledOutputAdded(text);
}

void BrevaneModel::assembledRunEnded(const CheckResult& result)
{
    if (m_assembledRunIsSetup) {
        m_assembledRunIsSetup = false;
        if (result.outcome == CheckResult::Outcome::Passed) {
            announceAssembled(tr("Setup done\n"));
            startAssembledCheck();
            return;
        }
        // Tried again before the next check.
        m_assembledSetupPending = true;
        endAssembledCheck(result.outcome == CheckResult::Outcome::Stopped ||
                                  result.outcome == CheckResult::Outcome::TimedOut
                              ? result
                              : CheckResult{CheckResult::Outcome::NotStarted, 0, 0,
                                            tr("the setup command did not pass")});
    } else {
        endAssembledCheck(result);
    }
    // What the check wrote goes, as in the agents' worktrees.
    const QByteArray restoreTo = std::exchange(m_assembledRestoreTo, QByteArray());
    if (m_assembledWorktree && !restoreTo.isEmpty()) {
        m_assembledGitWork = true;
        putBackAfterCheck(m_assembledWorktree->path, restoreTo, [this](const QString& failure) {
            m_assembledGitWork = false;
            if (!failure.isEmpty())
                announceAssembled(failure + u'\n');
        });
    }
    Q_EMIT changed();
    settleIfDone();
}

void BrevaneModel::endAssembledCheck(const CheckResult& result)
{
    m_assembledCheck = result;
    announceAssembled(AgentSession::describeCheck(result) + u'\n');
}

void BrevaneModel::forgetAssembledWorktree()
{
    ++m_assembledCheckId;
    m_assembledRestoreTo.clear();
    m_assembled.reset();
    m_picks.clear();
    m_assembledWorktree.reset();
    m_assembledSetupPending = false;
    m_assembledCheck.reset();
    m_assembledOutput.clear();
}

bool BrevaneModel::canApplyAssembled() const
{
    return m_assembled && canAssemble();
}

void BrevaneModel::applyAssembled(std::function<void(const GitResult<GitApplyResult>&)> done)
{
    if (!canApplyAssembled()) {
        done(GitError{tr("Nothing assembled to apply")});
        return;
    }
    QByteArray top;
    for (const AgentSession* agent : std::as_const(m_runners)) {
        if (agent->worktree())
            top = agent->worktree()->repositoryTop;
    }
    m_applying = true;
    Q_EMIT changed();
    QPointer<BrevaneModel> self(this);
    runGit<GitResult<GitApplyResult>>(
        [top, base = m_baseCommit, commit = m_assembled->commit](const GitContext& context) {
            return Git::applyToFolder(top, base, commit, {}, context);
        },
        [self, done = std::move(done)](const GitResult<GitApplyResult>& result) {
            self->m_applying = false;
            Q_EMIT self->changed();
            done(result);
        });
}

bool BrevaneModel::canApplyChanges(qsizetype index) const
{
    const AgentSession* agent = m_runners.value(index);
    return agent && agent->worktree() && !m_applying && !anyRunning() &&
           !agent->worktreeChanges().computing &&
           !agent->worktreeChanges().snapshot.whole.isEmpty();
}

void BrevaneModel::applyChanges(qsizetype index, const QList<QByteArray>& paths,
                                std::function<void(const GitResult<GitApplyResult>&)> done)
{
    if (!canApplyChanges(index))
        return;
    const AgentSession* agent = m_runners[index];
    m_applying = true;
    Q_EMIT changed();
    QPointer<BrevaneModel> self(this);
    runGit<GitResult<GitApplyResult>>(
        [worktree = *agent->worktree(), commit = agent->worktreeChanges().snapshot.commit,
         paths](const GitContext& context) {
            return Git::applyToFolder(worktree.repositoryTop, worktree.baseCommit, commit, paths,
                                      context);
        },
        [self, done = std::move(done)](const GitResult<GitApplyResult>& result) {
            self->m_applying = false;
            Q_EMIT self->changed();
            done(result);
        });
}

void BrevaneModel::createBranch(qsizetype index, const QString& name,
                                std::function<void(const GitResult<void>&)> done)
{
    const AgentSession* agent = m_runners.value(index);
    if (!agent || !agent->worktree() || agent->worktreeChanges().snapshot.commit.isEmpty()) {
        done(GitError{tr("No snapshot of the worktree yet")});
        return;
    }
    // A name that git would read as an option is no branch's name.
    if (name.trimmed().isEmpty() || name.startsWith(u'-')) {
        done(GitError{tr("Not a branch name: %1").arg(name)});
        return;
    }
    runGit<GitResult<void>>(
        [top = agent->worktree()->repositoryTop, commit = agent->worktreeChanges().snapshot.commit,
         name = name.toUtf8()](const GitContext& context) -> GitResult<void> {
            GitResult<QByteArray> made =
                Git::output({top, {"branch", "--no-track", name, commit}}, context);
            if (!made)
                return GitError{made.error()};
            return {};
        },
        std::move(done));
}

bool BrevaneModel::canDiscardWorktrees() const
{
    return m_sessionWorktrees && !m_worktreesDiscarded && !m_discarding && !anyRunning() &&
           !anyCheckRunning() && !m_assembling && !m_applying &&
           std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return r->worktree().has_value(); });
}

void BrevaneModel::discardWorktrees()
{
    if (!canDiscardWorktrees())
        return;
    QByteArray top;
    QList<QByteArray> paths;
    for (const AgentSession* runner : std::as_const(m_runners)) {
        if (const std::optional<PlannedWorktree>& worktree = runner->worktree()) {
            top = worktree->repositoryTop;
            paths.push_back(worktree->path);
        }
    }
    // The assembled result's, made or not, also one a reopened session
    // does not know of: one that is not there counts as removed.
    const QByteArray assembled =
        m_assembledWorktree ? m_assembledWorktree->path : assembledPathBeside(paths.value(0));
    if (!paths.contains(assembled))
        paths.push_back(assembled);
    m_discarding = true;
    Q_EMIT changed();
    QPointer<BrevaneModel> self(this);
    ProcessOwner* owner = &m_owner;
    owner->startThread([top, paths, sessionId = m_sessionId, self, owner](const WakeUpFd& quit) {
        GitContext context;
        context.cancel = &quit;
        const DiscardedWorktrees discarded = ::discardWorktrees(top, sessionId, paths, context);
        owner->handOver([self, sessionId, discarded] {
            if (!self)
                return;
            self->m_discarding = false;
            if (sessionId == self->m_sessionId) {
                for (AgentSession* runner : std::as_const(self->m_runners)) {
                    if (runner->worktree() && discarded.removed.contains(runner->worktree()->path))
                        runner->setWorktree(std::nullopt);
                }
                if (self->m_assembledWorktree &&
                    discarded.removed.contains(self->m_assembledWorktree->path))
                    self->forgetAssembledWorktree();
                // Those that stay can be discarded again.
                self->m_worktreesDiscarded = discarded.errors.isEmpty();
            }
            Q_EMIT self->worktreesRemoved(sessionId, discarded.removed, discarded.errors);
            Q_EMIT self->changed();
        });
    });
}

void BrevaneModel::handleRunEnded()
{
    // start() marks the run active only after launching every tool, so a
    // launch that fails at once is not the end of the whole run.
    if (m_runActive && !anyRunning()) {
        m_runActive = false;
        Q_EMIT allEnded();
    }
    settleIfDone();
}

void BrevaneModel::settleIfDone()
{
    if (!m_settling || anyRunning() || anyCheckRunning())
        return;
    m_settling = false;
    Q_EMIT settled();
}

void BrevaneModel::stopAll()
{
    dropPendingChecks();
    if (m_prepareCancel)
        m_prepareCancel->raise();
    for (AgentSession* runner : std::as_const(m_runners)) {
        runner->stop();
        runner->stopCheck();
    }
    m_assembledRun.stop();
    ++m_assembledCheckId;
}
