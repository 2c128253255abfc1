#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <cstdio>

#include <unistd.h>

namespace {

// Where a translation for the user's locale may be found: beside the
// executable (inside a macOS bundle too) or in the installed data directory.
// None is shipped; a found one is used.
QStringList translationDirs()
{
    const QString app = QCoreApplication::applicationDirPath();
    return {app + QStringLiteral("/translations"),
            app + QStringLiteral("/../Resources/translations"),
            app + QStringLiteral("/../share/brevane/translations")};
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("brevane"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("brevane")));

    QTranslator translator;
    for (const QString& dir : translationDirs()) {
        if (translator.load(QLocale(), QStringLiteral("brevane"), QStringLiteral("_"), dir)) {
            QCoreApplication::installTranslator(&translator);
            break;
        }
    }

    MainWindow::open();
    const int status = QApplication::exec();

    // Tools still running are left running, but their reader threads and any
    // scan in progress are detached and keep posting to the GUI thread. A
    // normal return would destroy the application and static objects under
    // them, so after the windows (and with them every model and runner) are
    // gone, output is flushed and the process ends without further teardown.
    QList<QPointer<MainWindow>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            windows.push_back(window);
    }
    for (const QPointer<MainWindow>& window : std::as_const(windows))
        delete window.data();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}
