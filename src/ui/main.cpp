#include "ui/commandline.h"
#include "ui/mainwindow.h"
#include "ui/translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLocale>
#include <QPointer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevane"));
    QApplication::setApplicationVersion(QStringLiteral(BREVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(BREVANE_APP_ID));
    // The installed theme's icon, else the one built in (a build not installed).
    QApplication::setWindowIcon(QIcon::fromTheme(
        QStringLiteral(BREVANE_APP_ID), QIcon(QStringLiteral(":/icons/" BREVANE_APP_ID ".png"))));
    const Translations translations(QLocale{});

    QCommandLineParser parser;
    addCommandLineOptions(parser);
    parser.process(app);
    QString error;
    const QString folder = startFolder(parser, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }

    MainWindow::open(folder);
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
