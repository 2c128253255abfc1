#pragma once

#include <QMainWindow>

class ContentView;

// One independent Brevane window: a ContentView (with its own model, task
// and scan) under the File and Edit menus. Deletes itself when closed; the
// tools it started keep running.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ContentView* contentView() const { return m_content; }

    // Opens and shows a new window; it lives until it is closed.
    static MainWindow* open();

private:
    void buildMenus();
    // Calls `slot` (a slot name such as "copy") on the focused widget, if it has one.
    static void invokeOnFocus(const char* slot);

    ContentView* m_content;
};
