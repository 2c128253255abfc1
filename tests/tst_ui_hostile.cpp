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

// Hostile tasks pasted into the real window's task field and run
// with the Run button. Every tool records its arguments, NUL-separated.

using namespace Qt::StringLiterals;

namespace {

const char* const tools[] = {"claude", "gemini", "hermes"};

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
    FakeHome m_home;
    ProcessOwner m_owner;
    QPointer<MainWindow> m_window;

    ContentView* view() const { return m_window->contentView(); }
    // Pastes the task into the field and clicks Run once the window has enabled it.
    bool run(const QString& task)
    {
        for (const char* tool : tools)
            QFile::remove(m_home.filePath(u"args-"_s + tool));
        view()->taskField()->clear();
        QApplication::clipboard()->setText(task);
        view()->taskField()->paste();
        if (!QTest::qWaitFor([&] { return view()->runButton()->isEnabled(); }, deadline))
            return false;
        QTest::mouseClick(view()->runButton(), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !view()->model()->anyRunning(); }, deadline);
    }
    QString status(int i) const
    {
        return view()->columns()[i]->findChild<QLabel*>(u"statusLine"_s)->text();
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* tool : tools)
            m_home.writeStandin(u".local/bin/"_s + tool,
                                {u"record="_s + m_home.filePath(u"args-"_s + tool)});
        m_window = MainWindow::open(m_owner);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QVERIFY(QTest::qWaitFor([&] { return !view()->model()->scanning(); }, deadline));
    }
    void cleanupTestCase() { delete m_window.data(); }

    // Quotes, substitutions, separators, globs, tildes, backslashes, line
    // breaks, leading dashes, sheer size, scripts, combining marks and emoji.
    // Those that a shell would expand create a file named pwned-*. Tasks no
    // program can be given come first, so that a run after them must work.
    void taskReachesEveryToolVerbatim_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("failure"); // why no program can be given it
        // More than the kernel takes for one environment string, as one word
        // (minified text) that the field must not take minutes to wrap.
        QTest::newRow("2 MiB") << QString(2 << 20, u'y')
                               << QString::fromLocal8Bit(std::strerror(E2BIG));
        // exec would cut the task short at the NUL.
        QTest::newRow("NUL")
            << u"delete nothing"_s + QChar(0) + u" rm -rf ~"_s
            << u"The task contains a NUL character, which no program can receive"_s;
        // clang-format off
        QStringList tasks = {
            "say \"hello\" to \"them\"", "it's 'quoted' here", "\"open", "'open",
            "\"; touch \"$HOME/pwned-dq\"; echo \"", "'; touch ~/pwned-sq; echo '",
            "“smart” ‘single’ «guillemets» „low‟ 〝ditto〞 ＂fullwidth＂", "$'\\x41\\n' $\"text\"",
            "$(touch \"$HOME/pwned-subst\")", "`touch $HOME/pwned-backquote`", "$((6*7)) $[1+1]",
            "$HOME ${HOME} $0 $$ $? $# $@ $* $BV_TASK $BV_BIN", "${X:=$(touch ~/pwned-assign)}",
            "${(e)X} ${(P)HOME} $(<~/.zshrc)", "<(touch ~/pwned-procsubst) >(touch ~/pwned-out)",
            "=ls =sh", "!! !$ !-1 ^a^b", "{a,b,c} {1..3} pwned-{x,y}", "a; touch ~/pwned-semicolon",
            "true && touch ~/pwned-and", "echo x | tee ~/pwned-pipe", ">> ~/pwned-append 2>&1",
            "cat <<EOF > ~/pwned-heredoc\nx\nEOF", "touch ~/pwned-bg &", "# not a comment",
            "* ? [a-z] **/* .*", "*(e:'touch ~/pwned-qualifier':)", "^*.txt *~*.c (#i)A",
            "~ ~root ~+ ~- ~/", "a\\b \\n \\\\ \\$HOME \\`x\\`", "ends with \\", "\\0 \\x00",
            "first\nsecond\n\nthird", "x\ntouch ~/pwned-newline", "a\tb\t\tc",
            "bell\x07 escape\x1b[31mred\x1b[0m del\x7f", "%s %n %d %% %x", "-rf /", "--help",
            "-", "--", "مرحبا بالعالم שלום עולם",
            "abc\u202Etxt.exe\u202C \u2067isolate\u2069",
            "e\u0301 a\u0308 n\u0303 Z\u0351\u0352\u0353", "👨‍👩‍👧‍👦 🧑🏽‍💻 👍🏽", "🇫🇷🇯🇵 1️⃣ #️⃣",
            "日本語のテキスト 中文 한국어", "𝔘𝔫𝔦𝔠𝔬𝔡𝔢 𓀀", "a\u00A0b\u2009c\u200Bd\u3000e", "a\u2028b"};
        // clang-format on
        tasks << QString(30000, u'w') << u"word "_s.repeated(3000) + u'.'
              << u"line\n"_s.repeated(1000) + u'.';
        for (int i = 0; i < tasks.size(); ++i)
            QTest::addRow("task %d", i) << tasks[i] << QString(); // a failure shows the text
    }
    void taskReachesEveryToolVerbatim()
    {
        QFETCH(QString, task);
        QFETCH(QString, failure);
        QVERIFY(run(task));
        for (int i = 0; i < 3; ++i) {
            const QString name = QString::fromLatin1(tools[i]);
            const AgentSession* runner = view()->model()->runners()[i];
            QTRY_COMPARE_WITH_TIMEOUT(status(i), failure.isEmpty() ? u"Finished"_s : u"Failed"_s,
                                      deadline);
            if (failure.isEmpty()) {
                const QList<QByteArray> args = m_home.record(u"args-"_s + name).arguments;
                QCOMPARE(args.last(), task.toUtf8());
                QCOMPARE(args, runner->spec().turnArguments(task, true,
                                                            runner->turns().back().conversation));
            } else {
                TranscriptView* transcript = view()->columns()[i]->transcript();
                const auto shown = [&] {
                    transcript->selectAll();
                    return transcript->selectedText();
                };
                QTRY_VERIFY(shown().endsWith(u"\nFailed to launch: "_s + failure));
                QVERIFY(!QFile::exists(m_home.filePath(u"args-"_s + name)));
            }
        }
        QCOMPARE(QDir(m_home.path())
                     .entryList({u"pwned*"_s}, QDir::AllEntries | QDir::Hidden | QDir::System),
                 QStringList());
    }
};

QTEST_MAIN(TestHostile)
#include "tst_ui_hostile.moc"
