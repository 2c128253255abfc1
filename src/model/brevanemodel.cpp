#include "model/brevanemodel.h"

#include "catalog/detector.h"
#include "platform/childprocess.h"
#include "platform/mainthread.h"
#include "text/trim.h"

#include <QPointer>

#include <algorithm>

#include <thread>

BrevaneModel::BrevaneModel(QObject* parent)
    : QObject(parent)
{
    for (const ToolSpec& spec : ToolSpec::all()) {
        auto* runner = new ToolRunner(spec, this);
        // The model is the receiver context: the connection ends with it.
        connect(runner, &ToolRunner::objectWillChange, this, &BrevaneModel::objectWillChange,
                Qt::DirectConnection);
        m_runners.push_back(runner);
    }
}

BrevaneModel::~BrevaneModel() = default;

void BrevaneModel::setTask(const QString& task)
{
    Q_EMIT objectWillChange();
    m_task = task;
}

void BrevaneModel::setScanning(bool scanning)
{
    Q_EMIT objectWillChange();
    m_scanning = scanning;
}

bool BrevaneModel::anyRunning() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const ToolRunner* r) { return r->state().isRunning(); });
}

bool BrevaneModel::anyInstalled() const
{
    return std::any_of(m_runners.begin(), m_runners.end(),
                       [](const ToolRunner* r) { return r->path().has_value(); });
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
    std::thread([names, self, scanId, timeout = m_shellTimeout] {
        QList<std::optional<QString>> paths;
        for (const QString& name : names)
            paths.push_back(Detector::find(name, timeout));
        MainThread::handOver([self, scanId, paths] {
            // Scans may overlap; only the latest one says what is installed
            // now, and only it ends the scanning.
            if (self && scanId == self->m_scanId)
                self->applyScan(paths);
        });
    }).detach();
}

void BrevaneModel::applyScan(const QList<std::optional<QString>>& paths)
{
    const qsizetype n = std::min(m_runners.size(), paths.size());
    for (qsizetype i = 0; i < n; ++i)
        m_runners[i]->setPath(paths[i]);
    setScanning(false);
}

void BrevaneModel::start()
{
    const QString task = trimmedBlanksAndLineBreaks(m_task);
    if (task.isEmpty())
        return;
    for (ToolRunner* runner : std::as_const(m_runners)) {
        if (runner->path())
            runner->run(task);
    }
    Q_EMIT objectWillChange();
}

void BrevaneModel::stopAll()
{
    for (ToolRunner* runner : std::as_const(m_runners)) {
        const std::shared_ptr<ChildProcess> process = runner->m_process;
        if (!process || !process->isRunning())
            continue;
        runner->setState(RunState::stopped());
        process->terminate();
        runner->m_process.reset();
    }
    Q_EMIT objectWillChange();
}
