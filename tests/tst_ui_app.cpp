#include "testsupport.h"

#include "platform/processowner.h"
#include "ui/contentview.h"
#include "ui/tasktextedit.h"
#include "ui/translations.h"

#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QTest>

// The application as a user starts it: its command line, run as a child
// process (BREVANE_APP), and its translations.

namespace {

constexpr int deadline = 20000; // ms; generous for loaded CI machines

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // stdout, or stderr after a failure
        QTest::addColumn<bool>("exact");

        const QString c = QStringLiteral("C");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << c << 0
                                 << QStringLiteral("Brevane " BREVANE_VERSION "\n") << true;
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << c << 0
                              << QStringLiteral("shows what each prints, side by side.") << false;
#ifndef Q_OS_DARWIN // macOS takes the language from the user's settings, not from LANG
        QTest::newRow("help in German")
            << QStringList{QStringLiteral("--help")} << QStringLiteral("de_DE.UTF-8") << 0
            << QStringLiteral("Übergibt eine Aufgabe an mehrere Kommandozeilen-Agenten") << false;
#endif
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << c << 1
                                        << QStringLiteral("frobnicate") << false;
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, language);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(bool, exact);

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
        if (exact)
            QCOMPARE(printed, output);
        else
            QVERIFY2(printed.contains(output), qPrintable(printed));
    }

    // The German translation is built in and changes the window's texts while
    // it is installed; without it they read as written.
    void germanTranslation()
    {
        FakeHome home;
        ProcessOwner owner;
        {
            const Translations german(QLocale(QLocale::German, QLocale::Germany));
            QVERIFY(german.loaded());
            ContentView view(owner);
            QCOMPARE(view.runButton()->text(), QStringLiteral("Ausführen"));
            QCOMPARE(view.taskField()->placeholderText(),
                     QStringLiteral("Aufgabe für alle Agenten eingeben…"));
        }
        const Translations english(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(!english.loaded());
        ContentView view(owner);
        QCOMPARE(view.runButton()->text(), QStringLiteral("Run"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_ui_app.moc"
