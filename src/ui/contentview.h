#pragma once

#include "git/apply.h"

#include <QList>
#include <QString>
#include <QWidget>

class BrevaneModel;
class ChangesView;
class ProcessOwner;
class ColumnView;
class DesktopNotifier;
class FindBar;
class QAction;
class QCheckBox;
class QLabel;
class QDropEvent;
class QPushButton;
class QStackedWidget;
class TaskTextEdit;

// The content of a main window: the folder button, the task field, Run (Send
// once the session has begun), New Session, Stop and Rescan above either a spinner (while the tools
// are being looked for) or one column per tool in catalogue order. Owns the window's model for its
// whole life and looks for the tools the first time it is shown.
//
// Follows the model's changed(): the enablement of Run, Stop and Rescan is
// set at once, so that a click right after a change already meets the new
// rules; the rest (the field's text, the page shown, the folder) is derived
// once per burst of changes, on the next event-loop turn.
class ContentView : public QWidget {
    Q_OBJECT
public:
    // The content area never gets smaller than this.
    static constexpr QSize minimumContentSize{900, 520};

    // `workingFolder` empty: the model's default.
    explicit ContentView(ProcessOwner& owner, const QByteArray& workingFolder = QByteArray(),
                         QWidget* parent = nullptr);
    ~ContentView() override;

    // The window's title: while tools run, how many ("2 running — "), then
    // the working folder's name and " — Brevane".
    QString title() const;

    // Opens the platform's folder picker and returns at once; a folder chosen
    // there becomes the working folder. The file dialogs are modal to this
    // window only: other windows go on working, and dialogs open in several
    // windows close in any order.
    void chooseFolder();
    // File > Save Transcripts…: enabled while some column has output.
    QAction* saveTranscriptsAction() const { return m_saveTranscripts; }
    // File > New Session: enabled once a session has begun and nothing runs.
    QAction* newSessionAction() const { return m_newSessionAction; }
    // Removes the session's worktrees, after asking.
    QAction* discardWorktreesAction() const { return m_discardWorktrees; }
    QAction* runChecksAction() const { return m_runChecksAction; }
    // How each agent's latest turn and check ended, on one line: what a
    // notification says, e.g. "claude ✓ 3 files · gemini ✗ check failed".
    QString settledSummary() const;
    QPushButton* runChecksButton() const { return m_runChecks; }
    void discardWorktrees();
    QCheckBox* separateWorktreesSwitch() const { return m_separateWorktrees; }
    QCheckBox* allowCommandsSwitch() const { return m_allowCommands; }
    // Asks where, in the working folder by default, and returns at once; the
    // answer goes to saveTranscriptsTo().
    void saveTranscripts();
    // Writes every run of this window, as it stands now, to `path` as
    // Markdown, on a thread of the owner; returns at once. On failure tells
    // the user, naming the file and the reason. transcriptsSaved() follows.
    void saveTranscriptsTo(const QString& path);

    BrevaneModel* model() const { return m_model; }
    TaskTextEdit* taskField() const { return m_taskField; }
    QPushButton* folderButton() const { return m_folder; }
    QPushButton* runButton() const { return m_run; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* newSessionButton() const { return m_newSession; }
    QPushButton* rescanButton() const { return m_rescan; }
    // One per runner, in the model's order; made once with the view.
    const QList<ColumnView*>& columns() const { return m_columns; }
    // True while the spinner page is shown instead of the columns.
    bool showsSpinner() const;

    // Find in every transcript: the bar below the controls.
    FindBar* findBar() const { return m_findBar; }
    void showFind();
    // Hides the bar and takes every highlight away.
    void closeFind();
    // Steps to the next (previous) match in the current column: the one
    // whose transcript last had the keyboard, else the first with matches.
    void findNext();
    void findPrevious();

    // The transcripts' font size, the same in every column of the window.
    static constexpr qreal minimumPointSize = 6;
    static constexpr qreal maximumPointSize = 48;
    qreal transcriptPointSize() const { return m_pointSize; }
    void zoomBy(int steps);
    void resetZoom();
    // Points added to the transcripts' default size (negative: smaller).
    qreal zoom() const { return m_pointSize - m_defaultPointSize; }
    void setZoom(qreal points) { setTranscriptPointSize(m_defaultPointSize + points); }

Q_SIGNALS:
    // title() is different from what it was at the previous render.
    void titleChanged(const QString& title);
    void zoomChanged();
    // A save started by saveTranscriptsTo() has ended, written or not (the
    // user has been told why).
    void transcriptsSaved(const QString& path, bool saved);

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void handleModelChanged();
    void handleSaveEnded(const QString& path, bool saved, const QString& error);
    void updateButtons();
    void connectChanges(ColumnView* column, qsizetype index);
    void showApplied(ChangesView* view, const GitResult<GitApplyResult>& result);
    void render();

    // Sets the working folder when `event` carries one; true if it did or will.
    bool takeFolderDrop(QDropEvent* event);
    // The folder picker's answer: becomes the working folder unless its text
    // may not name the folder chosen.
    void takeChosenFolder(const QString& folder);
    void applyFindQuery();
    ColumnView* findColumn() const;
    void setTranscriptPointSize(qreal size);

    ProcessOwner& m_owner;
    BrevaneModel* m_model;
    QPushButton* m_folder;
    QAction* m_saveTranscripts;
    TaskTextEdit* m_taskField;
    QPushButton* m_run;
    QPushButton* m_newSession;
    QAction* m_newSessionAction;
    QAction* m_discardWorktrees;
    QAction* m_runChecksAction = nullptr;
    DesktopNotifier* m_notifier = nullptr;
    QPushButton* m_runChecks = nullptr;
    QCheckBox* m_separateWorktrees;
    QCheckBox* m_allowCommands;
    QLabel* m_commandsWarning;
    QPushButton* m_stop;
    QPushButton* m_rescan;
    QStackedWidget* m_pages;
    QWidget* m_spinnerPage;
    QWidget* m_columnsPage;
    QList<ColumnView*> m_columns;
    FindBar* m_findBar;
    qsizetype m_findColumn = -1;
    qreal m_defaultPointSize;
    qreal m_pointSize;
    QString m_shownTask; // shares the model's string: no copy
    QString m_shownTitle;
    bool m_renderPending = false;
    bool m_scannedOnShow = false;
};
