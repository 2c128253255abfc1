#pragma once

#include <QMainWindow>

class ContentView;
class ProcessOwner;

// One independent Brevane window: a ContentView (with its own model, task,
// working folder and scan) under the File and Edit menus, titled after its
// folder. Deletes itself when closed; the tools it started keep running.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `workingFolder` empty: where Brevane was started (the home folder for "/").
    explicit MainWindow(ProcessOwner& owner, const QByteArray& workingFolder = QByteArray(),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    ContentView* contentView() const { return m_content; }

    // Opens and shows a new window on `workingFolder`; it lives until it is closed.
    static MainWindow* open(ProcessOwner& owner, const QByteArray& workingFolder = QByteArray());

private:
    void buildMenus();
    // Calls `slot` (a slot name such as "copy") on the focused widget, if it has one.
    static void invokeOnFocus(const char* slot);

    ProcessOwner& m_owner;
    ContentView* m_content;
};
