#pragma once

#include "catalog/detector.h"
#include "catalog/runstate.h"
#include "catalog/toolspec.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class ChildProcess;

// The live side of one catalogue entry: where the tool was found, what it
// printed in its latest run, and how that run stands. Lives on the GUI thread;
// every field is read and written there only.
//
// objectWillChange() fires before every assignment to path, output or state
// (also of the value already held) and before every append to output (also
// of text that cleaned to nothing). A run emits: output reset, Running, then
// its output, then exactly one final state (Failed at launch, or Done).
class ToolRunner : public QObject {
    Q_OBJECT
public:
    explicit ToolRunner(ToolSpec spec, QObject* parent = nullptr);
    ~ToolRunner() override;

    const ToolSpec& spec() const { return m_spec; }
    QString id() const { return m_spec.name; }
    // The executable's path as bytes; none: not installed.
    const std::optional<QByteArray>& path() const { return m_discovery.path; }
    // The path, or where discovery looked and what the login shell answered.
    const Discovery& discovery() const { return m_discovery; }
    const QString& output() const { return m_output; }
    RunState state() const { return m_state; }

    // Bumped whenever output is replaced instead of appended to (a new run),
    // so that a view can append just the new tail while it stays the same.
    quint64 outputGeneration() const { return m_outputGeneration; }

    // Starts the tool on `task` under the login shell, in `folder`, and
    // returns at once. Does nothing without a path. Called only while this
    // runner is not running.
    // An empty folder: Brevane's own.
    void run(const QString& task, const QByteArray& folder = QByteArray());

    // The pause between a child's end reaching the GUI thread and `done`.
    static constexpr std::chrono::milliseconds endPause{150};

Q_SIGNALS:
    void objectWillChange();

private:
    friend class BrevaneModel;
    friend struct ToolRunnerTestAccess;

    void setDiscovery(Discovery discovery);
    // Ends a run that could not start: "Failed to launch: " and why.
    void failLaunch(const QString& reason);
    void setOutput(QString output);
    void appendOutput(const QString& text);
    void setState(RunState state);
    void handleOutput(quint64 runId, const QString& text);
    void handleEnd(quint64 runId, const std::shared_ptr<ChildProcess>& child, int status);

    const ToolSpec m_spec;
    Discovery m_discovery;
    QString m_output;
    RunState m_state = RunState::idle();
    std::shared_ptr<ChildProcess> m_process;
    quint64 m_runId = 0;
    quint64 m_outputGeneration = 0;
};
