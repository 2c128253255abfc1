#pragma once

#include "ui/appservices.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class CompareWindow;
class ContentView;
class HistoryPanel;
class ProcessOwner;
class QDockWidget;
class QAction;
class QLabel;
class SessionRecorder;
struct StoredSession;

// One independent Brevane window: a ContentView (with its own model, task,
// working folder and scan) under the File, Edit and View menus, titled after
// its folder, with the history beside it when the app keeps one. Deletes
// itself when closed; the tools it started keep running.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `workingFolder` empty: where Brevane was started (the home folder for "/").
    explicit MainWindow(const AppServices& app, const QByteArray& workingFolder = QByteArray(),
                        QWidget* parent = nullptr);
    explicit MainWindow(ProcessOwner& owner, const QByteArray& workingFolder = QByteArray(),
                        QWidget* parent = nullptr)
        : MainWindow(AppServices{owner}, workingFolder, parent)
    {
    }
    ~MainWindow() override;

    ContentView* contentView() const { return m_content; }
    // None without a history.
    HistoryPanel* historyPanel() const { return m_historyPanel; }
    QDockWidget* historyDock() const { return m_historyDock; }
    // The Compare Agents window, once opened.
    CompareWindow* compareWindow() const;
    // Says why the history is off; hidden while it is on.
    QLabel* historyBar() const { return m_historyBar; }
    SessionRecorder* recorder() const { return m_recorder; }

    // Opens and shows a new window on `workingFolder`; it lives until it is closed.
    static MainWindow* open(const AppServices& app, const QByteArray& workingFolder = QByteArray());
    static MainWindow* open(ProcessOwner& owner, const QByteArray& workingFolder = QByteArray())
    {
        return open(AppServices{owner}, workingFolder);
    }

    // The folder the user last worked in, as the settings keep it; empty
    // when none is known.
    static QByteArray lastFolder(const AppServices& app);

    // Shows the session kept under `id`: in the window that shows it
    // already, else here, else (while this window runs something) in a new
    // window. `opened` gets the window, or none when the history has no
    // such session.
    // At start: the history's worktrees against what git lists, once.
    static void checkWorktrees(const AppServices& app);
    void openSession(const QString& id, std::function<void(MainWindow*)> opened = {});

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    // Asks for the command that sets up each new worktree of the folder's
    // repository, kept in the settings.
    void editSetupCommand();
    void editCheckCommand();
    // Removes the worktrees of the sessions about to be deleted.
    void discardSessionWorktrees(
        const QStringList& ids,
        std::function<void(const QStringList& gone, const QStringList& errors)> done);
    void buildHistory();
    void restoreSettings();
    void showSession(const StoredSession& session);
    void updateHistoryBar();
    // Calls `slot` (a slot name such as "copy") on the focused widget, if it has one.
    static void invokeOnFocus(const char* slot);

    AppServices m_app;
    ContentView* m_content;
    QLabel* m_historyBar = nullptr;
    HistoryPanel* m_historyPanel = nullptr;
    QDockWidget* m_historyDock = nullptr;
    SessionRecorder* m_recorder = nullptr;
    QAction* m_setupCommand = nullptr;
    QAction* m_checkCommand = nullptr;
    QPointer<CompareWindow> m_compare;
};
