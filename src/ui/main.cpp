#include "catalog/runstate.h"
#include "platform/files.h"
#include "platform/processowner.h"
#include "store/historystore.h"
#include "store/instancelock.h"
#include "ui/commandline.h"
#include "ui/mainwindow.h"
#include "ui/translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLocale>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>
#include <memory>
#include <optional>

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
    // argv as QApplication left it, its own options taken out: what the
    // parser read, before it was made text.
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(QByteArray(argv[i]));
    QString error;
    const QByteArray folder = startFolder(parser, arguments, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }

    // Every child process and thread of every window belongs to it. Destroyed
    // after the windows, it kills the groups of tools the user stopped and
    // joins its threads; tools never stopped are left running.
    ProcessOwner processes;
    // ~/.config/Brevane/Brevane.conf on Linux.
    QSettings settings(QStringLiteral("Brevane"), QStringLiteral("Brevane"));
    AppServices services{processes, nullptr, &settings};
    // The history lives in the data folder; each running Brevane holds a
    // lock there, so that the next one can tell whose turns a crash ended.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString instances = data + QStringLiteral("/instances");
    std::optional<InstanceLock> instance;
    std::unique_ptr<HistoryStore> history;
    if (!parser.isSet(QStringLiteral("no-history"))) {
        instance.emplace(instances);
        history = std::make_unique<HistoryStore>(
            processes, data + QStringLiteral("/history.sqlite3"), instance->id());
        history->markInterrupted(
            [instances](const QString& id) { return InstanceLock::isLive(instances, id); },
            int(RunState::Case::Interrupted), [](int) {});
        services.history = history.get();
        MainWindow::checkWorktrees(services);
    }
    // Started from the desktop (from / or home): where the user last worked.
    QByteArray start = folder;
    if (start.isEmpty()) {
        const QByteArray here = currentDirectory();
        const QByteArray last = MainWindow::lastFolder(services);
        if ((here == "/" || here == homeDirectory()) && isDirectory(last))
            start = last;
    }
    MainWindow::open(services, start);
    const int status = QApplication::exec();

    // Windows still open go before the owner their models use.
    QList<QPointer<MainWindow>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            windows.push_back(window);
    }
    for (const QPointer<MainWindow>& window : std::as_const(windows))
        delete window.data();
    // The history commits what the windows left it before the owner goes.
    history.reset();
    return status;
}
