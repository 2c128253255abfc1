#include "model/brevanemodel.h"

#include "platform/files.h"
#include "platform/processowner.h"
#include "platform/spawn.h"
#include "text/trim.h"

#include <QPointer>
#include <QUuid>

#include <algorithm>

BrevaneModel::BrevaneModel(ProcessOwner& owner, QObject* parent)
    : BrevaneModel(owner, defaultWorkingFolder(), parent)
{
}

BrevaneModel::BrevaneModel(ProcessOwner& owner, const QByteArray& workingFolder, QObject* parent)
    : QObject(parent)
    , m_owner(owner)
    , m_workingFolder(workingFolder)
{
    for (const ToolSpec& spec : ToolSpec::all()) {
        auto* runner = new AgentSession(owner, spec, this);
        connect(runner, &AgentSession::changed, this, &BrevaneModel::changed);
        connect(runner, &AgentSession::runEnded, this, &BrevaneModel::handleRunEnded);
        m_runners.push_back(runner);
        m_included.push_back(true);
    }
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
    Q_EMIT changed();
}

bool BrevaneModel::sessionStarted() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return !r->turns().isEmpty(); });
}

bool BrevaneModel::canStartNewSession() const
{
    return sessionStarted() && !anyRunning();
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
    Q_EMIT changed();
}

bool BrevaneModel::restoreSession(const QString& id, const QByteArray& folder,
                                  const QDateTime& createdAt,
                                  const QMap<QString, AgentSession::Kept>& agents)
{
    if (anyRunning())
        return false;
    if (sessionStarted())
        Q_EMIT sessionEnding();
    for (AgentSession* runner : std::as_const(m_runners)) {
        runner->clearSession();
        if (const auto kept = agents.find(runner->id()); kept != agents.end())
            runner->restore(*kept);
    }
    m_workingFolder = folder;
    m_sessionFolder = folder;
    m_sessionId = id;
    m_sessionCreatedAt = createdAt;
    Q_EMIT changed();
    return true;
}

bool BrevaneModel::canTrustFolderAndRetry(qsizetype index) const
{
    const AgentSession* runner = m_runners.value(index);
    return runner && runner->refusedUntrustedFolder() && runner->path() &&
           !runner->state().isRunning();
}

void BrevaneModel::trustFolderAndRetry(qsizetype index)
{
    if (!canTrustFolderAndRetry(index))
        return;
    if (!m_trustedFolders.contains(m_sessionFolder))
        m_trustedFolders.push_back(m_sessionFolder);
    AgentSession* runner = m_runners[index];
    runner->run(runner->task(), m_sessionFolder, m_plainOutput, true);
    m_runActive = anyRunning();
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

BrevaneModel::~BrevaneModel() = default;

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
                       [](const AgentSession* r) { return r->state().isRunning(); });
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
    return !holdsOnlyBlanksAndLineBreaks(m_task) && anyIncludedInstalled() && !anyRunning();
}

bool BrevaneModel::canStop() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const AgentSession* r) { return r->canStop(); });
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
    }
    // Checked once for all: either every included tool starts here or none does.
    const int error = folderError(m_sessionFolder);
    const bool trusted = m_trustedFolders.contains(m_sessionFolder);
    for (qsizetype i = 0; i < m_runners.size(); ++i) {
        AgentSession* runner = m_runners[i];
        if (!m_included[i] || !runner->path())
            continue;
        if (error) {
            runner->beginTurn(task);
            runner->failLaunch(QString::fromUtf8(m_sessionFolder) + QStringLiteral(": ") +
                               systemErrorText(error));
        } else {
            runner->run(task, m_sessionFolder, m_plainOutput, trusted);
        }
    }
    m_runActive = anyRunning();
    // A task is sent once: the field is ready for the follow-up, and a
    // second Return does not send it again.
    setTask(QString());
}

void BrevaneModel::handleRunEnded()
{
    // start() marks the run active only after launching every tool, so a
    // launch that fails at once is not the end of the whole run.
    if (m_runActive && !anyRunning()) {
        m_runActive = false;
        Q_EMIT allEnded();
    }
}

void BrevaneModel::stopAll()
{
    for (AgentSession* runner : std::as_const(m_runners))
        runner->stop();
}
