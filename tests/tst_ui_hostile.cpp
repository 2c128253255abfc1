#include "testsupport.h"

#include "platform/processowner.h"

#include "model/brevanemodel.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/mainwindow.h"
#include "ui/tasktextedit.h"
#include "ui/transcriptview.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstring>

// Hostile tasks typed or pasted into the real window's task field and run
// with the Run button. Every tool records its arguments, NUL-separated.

using namespace Qt::StringLiterals;

namespace {

const char* const toolNames[] = {"claude", "gemini", "hermes"};

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
    FakeHome m_home;
    ProcessOwner m_owner;
    QPointer<MainWindow> m_window;

    ContentView* view() const { return m_window->contentView(); }
    // Sets the task as typed, or pasted through the clipboard, and clicks Run
    // once the window has enabled it.
    bool run(const QString& task, bool pasted = false)
    {
        for (const char* name : toolNames)
            QFile::remove(m_home.filePath(u"args-"_s + name));
        TaskTextEdit* field = view()->taskField();
        field->clear();
        if (pasted) {
            QApplication::clipboard()->setText(task);
            field->setFocus();
            field->paste();
        } else {
            field->setPlainText(task);
        }
        if (!QTest::qWaitFor([&] { return view()->runButton()->isEnabled(); }, deadline))
            return false;
        QTest::mouseClick(view()->runButton(), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !view()->model()->anyRunning(); }, deadline);
    }
    bool showsStatus(int i, const QString& status) const
    {
        const QList<QLabel*> labels = view()->columns()[i]->findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) {
            return label->isVisible() && label->text() == status;
        });
    }
    QString shownTranscript(int i) const
    {
        TranscriptView* transcript = view()->columns()[i]->transcript();
        transcript->selectAll();
        return transcript->selectedText();
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* name : toolNames)
            m_home.writeStandin(u".local/bin/"_s + name,
                                {u"record="_s + m_home.filePath(u"args-"_s + name)});
        m_window = MainWindow::open(m_owner);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QVERIFY(QTest::qWaitFor([&] { return !view()->model()->scanning(); }, deadline));
    }
    void cleanupTestCase() { delete m_window.data(); }

    // Quotes, substitutions, separators, globs, tildes, backslashes, line
    // breaks, leading dashes, sheer size, scripts, combining marks and emoji.
    // Those that a shell would expand create a file named pwned-*.
    void taskReachesEveryToolVerbatim_data()
    {
        QTest::addColumn<QString>("task");
        // clang-format off
        QStringList tasks = {
            "say \"hello\" to \"them\"", "it's 'quoted' here", "\"open", "'open",
            "\"; touch \"$HOME/pwned-dq\"; echo \"", "'; touch ~/pwned-sq; echo '",
            "“smart” ‘single’ «guillemets» „low‟ 〝ditto〞 ＂fullwidth＂", "$'\\x41\\n' $\"text\"",
            "$(touch \"$HOME/pwned-subst\")", "$(echo $(touch ~/pwned-nested))",
            "`touch $HOME/pwned-backquote`", "$((6*7)) $[1+1]",
            "$HOME ${HOME} $0 $$ $? $# $@ $* $BV_TASK $BV_BIN", "${X:=$(touch ~/pwned-assign)}",
            "${(e)X} ${(P)HOME} $(<~/.zshrc)",
            "<(touch ~/pwned-procsubst) >(touch ~/pwned-procout)", "=ls =sh", "!! !$ !-1 ^a^b",
            "{a,b,c} {1..3} pwned-{x,y}", "a; touch ~/pwned-semicolon", ";",
            "true && touch ~/pwned-and", "false || touch ~/pwned-or",
            "echo x | tee ~/pwned-pipe", "> ~/pwned-redirect", ">> ~/pwned-append 2>&1",
            "cat <<EOF > ~/pwned-heredoc\nx\nEOF", "touch ~/pwned-bg &",
            "exec touch ~/pwned-exec", "# not a comment", "* ? [a-z] **/* .*", "*",
            "*(e:'touch ~/pwned-qualifier':)", "^*.txt *~*.c (#i)A", "~ ~root ~+ ~- ~/",
            "a\\b \\n \\\\ \\$HOME \\`x\\`", "ends with \\", "\\0 \\x00",
            "first\nsecond\n\nthird", "x\ntouch ~/pwned-newline", "a\tb\t\tc",
            "bell\x07 escape\x1b[31mred\x1b[0m del\x7f", "%s %n %d %% %x", "-rf /", "--help",
            "-", "--", "-p", "مرحبا بالعالم שלום עולם",
            "abc\u202Etxt.exe\u202C \u2067isolate\u2069",
            "e\u0301 a\u0308 n\u0303 Z\u0351\u0352\u0353", "👨‍👩‍👧‍👦 🧑🏽‍💻 👍🏽", "🇫🇷🇯🇵 1️⃣ #️⃣",
            "日本語のテキスト 中文 한국어", "𝔘𝔫𝔦𝔠𝔬𝔡𝔢 𓀀", "a\u00A0b\u2009c\u200Bd\u3000e", "a\u2028b"};
        // clang-format on
        tasks << QString(30000, u'w') << u"word "_s.repeated(3000) + u'.'
              << u"line\n"_s.repeated(1000) + u'.';
        for (int i = 0; i < tasks.size(); ++i)
            QTest::addRow("task %d", i) << tasks[i]; // a failure shows the text
    }
    void taskReachesEveryToolVerbatim()
    {
        QFETCH(QString, task);
        QVERIFY(run(task));
        const QByteArray bytes = task.toUtf8();
        QCOMPARE(m_home.record(u"args-claude"_s).arguments, (QList<QByteArray>{"-p", bytes}));
        QCOMPARE(m_home.record(u"args-gemini"_s).arguments, (QList<QByteArray>{"-p", bytes}));
        QCOMPARE(m_home.record(u"args-hermes"_s).arguments,
                 (QList<QByteArray>{"chat", "-q", bytes}));
        QCOMPARE(QDir(m_home.path())
                     .entryList({u"pwned*"_s}, QDir::AllEntries | QDir::Hidden | QDir::System),
                 QStringList());
    }

    // Tasks no program can be given, pasted as a person would: every column
    // fails with the reason, no tool starts, and the next run works.
    void unlaunchableTaskFailsInEveryColumn_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("reason");
        // More than the kernel takes for one environment string, as one word
        // (minified text) that the field must not take minutes to wrap.
        QTest::newRow("2 MiB") << QString(2 << 20, u'y')
                               << QString::fromLocal8Bit(std::strerror(E2BIG));
        // exec would cut the task short at the NUL.
        QTest::newRow("NUL")
            << u"delete nothing"_s + QChar(0) + u" rm -rf ~"_s
            << u"The task contains a NUL character, which no program can receive"_s;
    }
    void unlaunchableTaskFailsInEveryColumn()
    {
        QFETCH(QString, task);
        QFETCH(QString, reason);
        QVERIFY(run(task, true));
        for (int i = 0; i < 3; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(showsStatus(i, u"Failed"_s), deadline);
            QCOMPARE(shownTranscript(i), u"Failed to launch: "_s + reason);
            QVERIFY(!QFile::exists(m_home.filePath(u"args-"_s + toolNames[i])));
        }
        QVERIFY(run(u"after the failure"_s));
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(showsStatus(i, u"Finished"_s), deadline);
        QCOMPARE(m_home.record(u"args-hermes"_s).arguments,
                 (QList<QByteArray>{"chat", "-q", "after the failure"}));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_ui_hostile.moc"
