#pragma once

#include <QColor>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <limits>

struct Discovery;
class ElidedLabel;
class FrameClock;
class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class Spinner;
class StatusDot;
class AgentSession;
class ChangesView;
class TranscriptView;

// One tool's column: header (status dot, name, spinner, Copy), path line,
// status line, divider, and either the not-installed notice or the live
// transcript. Observes one runner; a change only marks the column dirty and
// it renders once on the next event-loop turn.
class ColumnView : public QWidget {
    Q_OBJECT
public:
    explicit ColumnView(AgentSession* runner, QWidget* parent = nullptr);
    ~ColumnView() override;

    AgentSession* runner() const;

    // The transcript, for the window's Edit menu (copy, select all).
    TranscriptView* transcript() const { return m_transcript; }
    // The agent's changes in its worktree: a page beside the transcript,
    // offered while the agent has a worktree.
    ChangesView* changesView() const { return m_changes; }
    bool showsChanges() const { return m_showChanges; }
    void setShowsChanges(bool show);
    void setRunCheckEnabled(bool enabled, const QString& toolTip);
    // Renders so far, the first one in the constructor included.
    int renderCount() const { return m_renderCount; }
    QColor dotColor() const;

    // Shows the latest run's elapsed time as of now: the window's clock calls
    // this once a second while tools run.
    void renderElapsed();

    // How long Copy says "Copied" after a click.
    static constexpr std::chrono::milliseconds copiedFeedback{1000};

    // Shows whether the next run includes this tool; the checkbox only sets
    // it through includeToggled().
    void setIncluded(bool included);
    bool included() const;

    // Where discovery looked for a tool it did not find, and what the login
    // shell answered; empty when it was found or not yet looked for.
    static QString whyNotInstalled(const Discovery& discovery);
    // What the header says of the matches of the window's find.
    static QString matchCountText(qsizetype count);
    // A path as the column shows it: decoded for display, a line break drawn as ␤.
    static QString displayPath(const QByteArray& path);

    static constexpr int padding = 10;
    static constexpr int spacing = 8;
    static constexpr qreal cornerRadius = 10;

Q_SIGNALS:
    // The user ticked or cleared the column's checkbox.
    void includeToggled(bool included);
    // The user asked to run the turn the tool refused again, trusting the folder.
    void trustFolderRequested();
    // The user asked to run the check in this agent's worktree.
    void runCheckRequested();

public Q_SLOTS:
    // Empties the clipboard, then puts the whole transcript on it as plain text.
    void copyOutput();
    // Puts the latest run's bytes, as the tool wrote them, on the clipboard.
    void copyRawOutput();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void scheduleRender();
    void render();
    void renderTranscript(bool installed);
    void renderChanges();
    void applyColours();
    void showMatchCount();
    void showCopyTitle(bool copied);

    QPointer<AgentSession> m_runner;
    QPointer<FrameClock> m_clock;
    bool m_renderPending = false;
    int m_renderCount = 0;

    // What the transcript held at the previous render: an append keeps the
    // generation and grows the length; a new run changes the generation.
    static constexpr quint64 noGeneration = std::numeric_limits<quint64>::max();
    quint64 m_shownGeneration = noGeneration;
    qsizetype m_shownLength = 0;
    bool m_transcriptWasShown = false;

    QCheckBox* m_include = nullptr;
    StatusDot* m_dot = nullptr;
    ElidedLabel* m_name = nullptr;
    QLabel* m_matches = nullptr;
    Spinner* m_spinner = nullptr;
    QPushButton* m_copy = nullptr;
    QAction* m_copyRaw = nullptr;
    QIcon m_copyIcon;
    QIcon m_copiedIcon;
    // Runs only for the second after a click.
    QTimer m_copyFeedback;
    ElidedLabel* m_pathLine = nullptr;
    ElidedLabel* m_worktreeLine = nullptr;
    QLabel* m_statusLine = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_checkLabel = nullptr;
    QPushButton* m_runCheck = nullptr;
    ElidedLabel* m_usage = nullptr;
    QPushButton* m_trust = nullptr;
    QWidget* m_notice = nullptr;
    QLabel* m_noticeIcon = nullptr;
    QLabel* m_noticeTitle = nullptr;
    QLabel* m_noticeHint = nullptr;
    QLabel* m_noticeReason = nullptr;
    TranscriptView* m_transcript = nullptr;
    QWidget* m_pageSwitch = nullptr;
    QPushButton* m_transcriptPage = nullptr;
    QPushButton* m_changesPage = nullptr;
    ChangesView* m_changes = nullptr;
    bool m_showChanges = false;
    quint64 m_shownChanges = noGeneration;
};
