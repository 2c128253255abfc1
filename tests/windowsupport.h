#pragma once

#include "ui/mainwindow.h"

#include <QApplication>
#include <QList>
#include <QPointer>

// Every window left, before the store it records to (a failed check
// returns early).
inline void deleteWindows()
{
    // Deleting a window deletes other top-level widgets (its menus) too.
    QList<QPointer<MainWindow>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            windows << window;
    }
    for (const QPointer<MainWindow>& window : std::as_const(windows))
        delete window.data();
}
