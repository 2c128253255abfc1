#pragma once

#include "catalog/detector.h"
#include "catalog/runstate.h"
#include "catalog/toolspec.h"
#include "transcript/transcriptdocument.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class TurnProcess;
struct ChildExit;
class ProcessOwner;

// The live side of one catalogue entry: where the tool was found, what it
// printed in its latest run, and how that run stands. Lives on the GUI thread;
// every field is read and written there only.
//
// changed() fires after every assignment to discovery, output or state and
// after every append to output. A run goes: output reset, Running, then its
// output, then one final state: Failed at launch, Stopped, or Done (Killed)
// once the tool has exited (died by a signal) and everything it wrote is in
// the output. A background job of the tool may still hold the pipe then:
// outputStillArriving() says so until the pipe ends, the run is stopped, or
// the next run begins; what the job writes meanwhile is appended.
class ToolRunner : public QObject {
    Q_OBJECT
public:
    // The owner keeps the threads of every child this runner starts.
    ToolRunner(ProcessOwner& owner, ToolSpec spec, QObject* parent = nullptr);
    ~ToolRunner() override;

    const ToolSpec& spec() const { return m_spec; }
    QString id() const { return m_spec.name; }
    // The executable's path as bytes; none: not installed.
    const std::optional<QByteArray>& path() const { return m_discovery.path; }
    // The path, or where discovery looked and what the login shell answered.
    const Discovery& discovery() const { return m_discovery; }
    // The latest run's transcript. Valid until the next change of output.
    QStringView output() const { return m_output.text(); }
    // The transcript as it stands now, for as long as the snapshot lives.
    TranscriptText::Snapshot outputSnapshot() const { return m_output.snapshot(); }
    // The latest run's bytes as the tool wrote them: standard output, then
    // standard error. Kept for a run whose output is read as JSON lines;
    // one shown as printed keeps none.
    bool hasRawOutput() const { return m_rawOutput[0].size() + m_rawOutput[1].size() > 0; }
    QByteArray rawOutput() const
    {
        return m_rawOutput[0].view().toByteArray() + m_rawOutput[1].view().toByteArray();
    }
    // The transcript with its style runs and turns, for reading only.
    const TranscriptDocument& transcript() const { return m_output; }
    RunState state() const { return m_state; }
    // The tool has ended, but something it started still holds its output open.
    bool outputStillArriving() const { return m_outputStillArriving; }

    using Clock = std::chrono::steady_clock;
    // The latest run: the task it was given, the executable it started, and
    // when it started and ended. startedAt() is empty before the first run;
    // endedAt() while it runs. Both are set together for a failed launch.
    const QString& task() const { return m_task; }
    const std::optional<QByteArray>& ranPath() const { return m_ranPath; }
    std::optional<Clock::time_point> startedAt() const { return m_startedAt; }
    std::optional<Clock::time_point> endedAt() const { return m_endedAt; }
    // How long the latest run took, or has taken up to `now` while it runs.
    std::chrono::milliseconds elapsed(Clock::time_point now) const;

    // Bumped whenever output is replaced instead of appended to (a new run),
    // so that a view can append just the new tail while it stays the same.
    quint64 outputGeneration() const { return m_outputGeneration; }

    // Starts the tool on `task` under the login shell, in `folder`, and
    // returns at once. Does nothing without a path. Called only while this
    // runner is not running. The previous run's output is closed first, so
    // a job of it still writing gets SIGPIPE instead of being read.
    // An empty folder: Brevane's own.
    // A tool that can report its work as JSON lines does so unless
    // `plainOutput`: what it does is then shown step by step, its standard
    // error dim beside it.
    void run(const QString& task, const QByteArray& folder = QByteArray(), bool plainOutput = true);
    // True while a run can be stopped: it has started and not yet ended, or
    // its output is still arriving.
    bool canStop() const { return m_process && (m_state.isRunning() || m_outputStillArriving); }
    // Stops at once: SIGTERM to the tool's process group now and SIGKILL
    // after the grace period (or when the app quits or the runner goes
    // first), and nothing more is read. A running tool ends Stopped; one
    // that had ended keeps its end, its output no longer arriving. Does
    // nothing unless canStop().
    void stop();

    void setDiscovery(Discovery discovery);
    // Records a new run of `task` and when it starts, without a notification
    // of its own: a change of output and state follows at once. What the
    // previous run's process still writes is no longer read.
    void beginRun(const QString& task);
    // Ends a run that could not start: "Failed to launch: " and why. After
    // beginRun() when the run never reached running.
    void failLaunch(const QString& reason);

Q_SIGNALS:
    void changed();
    // After the state has left running for a final one (Done, Stopped,
    // Failed): once per run.
    void runEnded();

private:
    void setOutput(QStringView output);
    void appendOutput(const QString& text, TextRole role);
    void setState(RunState state);
    void handleOutput(quint64 runId, const QString& text, TextRole role);
    void handleEnd(quint64 runId, ChildExit exit, bool outputOpen);
    void handleOutputEnded(quint64 runId);
    void setOutputStillArriving(bool arriving);

    ProcessOwner& m_owner;
    const ToolSpec m_spec;
    Discovery m_discovery;
    QString m_task;
    std::optional<QByteArray> m_ranPath;
    std::optional<Clock::time_point> m_startedAt;
    std::optional<Clock::time_point> m_endedAt;
    TranscriptDocument m_output;
    AppendBuffer m_rawOutput[2];
    RunState m_state = RunState::idle();
    bool m_outputStillArriving = false;
    // The latest run's process, from its start until its output has ended
    // and, once stopped, until the next run; and earlier stopped runs still
    // in their grace period. Destroying the runner closes every output and
    // kills what was stopped now: nobody is left to read or stop them.
    std::unique_ptr<TurnProcess> m_process;
    std::vector<std::unique_ptr<TurnProcess>> m_terminating;
    quint64 m_runId = 0;
    quint64 m_outputGeneration = 0;
};
