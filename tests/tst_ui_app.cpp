#include "testsupport.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <sys/stat.h>

// The application as a user starts it: its command line, run as a child
// process (BREVANE_APP), and its translations.

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("exitCode");
        // On stdout, or on stderr after a failure; a line break ends the output.
        QTest::addColumn<QString>("output");

        const QString c = QStringLiteral("C");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << c << 0
                                 << QStringLiteral("Brevane " BREVANE_VERSION "\n");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << c << 0
                              << QStringLiteral("shows what each prints, side by side.");
#ifndef Q_OS_DARWIN // macOS takes the language from the user's settings, not from LANG
        QTest::newRow("help in German")
            << QStringList{QStringLiteral("--help")} << QStringLiteral("de_DE.UTF-8") << 0
            << QStringLiteral("Übergibt eine Aufgabe an mehrere Kommandozeilen-Agenten");
#endif
        // A folder the tools could not work in ends the app before any window.
        QTest::newRow("missing folder")
            << QStringList{QStringLiteral("no/such")} << c << 2
            << QStringLiteral("brevane: no/such: No such file or directory\n");
        QTest::newRow("a file as folder") << QStringList{QStringLiteral(BREVANE_APP)} << c << 2
                                          << QStringLiteral(BREVANE_APP ": Not a directory\n");
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, language);
        QFETCH(int, exitCode);
        QFETCH(QString, output);

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("LANG"), language);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(BREVANE_APP), arguments);
        QVERIFY(app.waitForFinished(deadline));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), exitCode);
        const QString printed = QString::fromUtf8(exitCode == 0 ? app.readAllStandardOutput()
                                                                : app.readAllStandardError());
        QVERIFY2(printed.contains(output) && (!output.endsWith(u'\n') || printed.endsWith(output)),
                 qPrintable(printed));
    }

    // A folder on the command line whose name is not UTF-8 is a folder like
    // any other: the app opens its window there, which looks for the tools
    // at once (the login shell it asks leaves a mark).
    void startsOnAFolderWhoseNameIsNoText_data()
    {
        QTest::addColumn<bool>("absolute");
        QTest::newRow("absolute") << true;
        QTest::newRow("relative") << false;
    }
    void startsOnAFolderWhoseNameIsNoText()
    {
        QFETCH(bool, absolute);
        FakeHome home;
        const QByteArray folder = QFile::encodeName(home.path()) + "/odd\xff.d";
        // Names Qt cannot decode would outlive the temporary home.
        auto cleanUp = qScopeGuard([&] { ::rmdir(folder.constData()); });
        QVERIFY(::mkdir(folder.constData(), 0700) == 0);
        home.writeFile(QStringLiteral(".zprofile"), "touch \"$HOME/scanned\"\n");

        // Arguments of QProcess are text: a shell puts the byte in.
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(home.path());
        app.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$1$(printf '\\377').d\""),
                   QStringLiteral(BREVANE_APP),
                   absolute ? home.filePath(QStringLiteral("odd")) : QStringLiteral("odd")});
        auto stop = qScopeGuard([&app] {
            app.kill();
            app.waitForFinished(deadline);
        });
        QVERIFY(waitFor([&] {
            return QFile::exists(home.filePath(QStringLiteral("scanned"))) ||
                   app.state() == QProcess::NotRunning;
        }));
        QVERIFY2(app.state() == QProcess::Running, app.readAllStandardError().constData());
    }
};

QTEST_MAIN(TestApp)
#include "tst_ui_app.moc"
