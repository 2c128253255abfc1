#include "processprobe.h"
#include "testsupport.h"

#include "model/brevanemodel.h"
#include "platform/childprocess.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/mainwindow.h"
#include "ui/tasktextedit.h"
#include "ui/transcriptview.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstring>
#include <memory>

// Hostile input through the real window: tasks typed (or pasted) into the
// task field and run with the Run button, and a tool that will not stop.

namespace {

constexpr int deadline = 20000; // ms
const char* const toolNames[] = {"claude", "gemini", "hermes"};

// Records its arguments, NUL-separated, into $HOME/args-<tool>.
const QByteArray recordArgs =
    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$HOME/args-$(basename \"$0\")\"\n";

// One window over a home where all three tools are installed.
class Rig {
public:
    explicit Rig(const QByteArray& toolBody)
    {
        for (const char* name : toolNames)
            home.writeTool(QStringLiteral(".local/bin/") + QLatin1String(name), toolBody);
        window = MainWindow::open();
    }
    ~Rig() { delete window.data(); }

    bool ready() const
    {
        return QTest::qWaitForWindowExposed(window) &&
               QTest::qWaitFor([&] { return !view()->model()->scanning(); }, deadline);
    }
    ContentView* view() const { return window->contentView(); }
    BrevaneModel* model() const { return view()->model(); }
    ColumnView* column(int i) const { return view()->columns()[i]; }

    // Types the task as the field would get it, then clicks Run once the
    // window has enabled it.
    bool run(const QString& task)
    {
        view()->taskField()->setPlainText(task);
        return clickRun();
    }
    // As a person pastes: through the clipboard into an empty field.
    bool runPasted(const QString& task)
    {
        TaskTextEdit* field = view()->taskField();
        field->clear();
        QApplication::clipboard()->setText(task);
        field->setFocus();
        field->paste();
        return clickRun();
    }
    bool clickRun()
    {
        if (!QTest::qWaitFor([&] { return view()->runButton()->isEnabled(); }, deadline))
            return false;
        QTest::mouseClick(view()->runButton(), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !model()->anyRunning(); }, deadline);
    }

    // The recorded arguments of one tool, split at the NULs.
    QList<QByteArray> args(const char* name) const
    {
        QList<QByteArray> parts = home.read(QStringLiteral("args-") + name).split('\0');
        if (!parts.isEmpty() && parts.last().isEmpty())
            parts.removeLast();
        return parts;
    }
    void forgetArgs() const
    {
        for (const char* name : toolNames)
            QFile::remove(home.filePath(QStringLiteral("args-") + name));
    }
    // Files a shell expansion of the hostile tasks would have made.
    QStringList evidence() const
    {
        return QDir(home.path())
            .entryList({QStringLiteral("pwned*")}, QDir::Files | QDir::Hidden | QDir::System);
    }

    // What the column shows: its status line and its whole transcript.
    bool showsStatus(int i, const QString& status) const
    {
        const QList<QLabel*> labels = column(i)->findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) {
            return label->isVisible() && label->text() == status;
        });
    }
    QString shownTranscript(int i) const
    {
        TranscriptView* transcript = column(i)->transcript();
        transcript->selectAll();
        return transcript->selectedText();
    }

    FakeHome home;
    QPointer<MainWindow> window;
};

QString repeated(const QString& word, int times, QChar separator)
{
    QStringList words;
    for (int i = 0; i < times; ++i)
        words << word + QString::number(i);
    return words.join(separator);
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // A ZDOTDIR of the developer's would hide the temporary home's profile.
        qunsetenv("ZDOTDIR");
        m_rig = std::make_unique<Rig>(recordArgs);
        QVERIFY(m_rig->ready());
    }
    void cleanupTestCase() { m_rig.reset(); }

    void taskReachesEveryToolVerbatim_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("expected"); // null: the task itself
        auto row = [](const char* name, const QString& task, const QString& expected = {}) {
            QTest::newRow(name) << task << expected;
        };
        // Quotes of every kind.
        row("double quotes", QStringLiteral("say \"hello\" to \"them\""));
        row("single quotes", QStringLiteral("it's 'quoted' here"));
        row("unbalanced double quote", QStringLiteral("\"open"));
        row("unbalanced single quote", QStringLiteral("'open"));
        row("quote breakout", QStringLiteral("\"; touch \"$HOME/pwned-dq\"; echo \""));
        row("single quote breakout", QStringLiteral("'; touch ~/pwned-sq; echo '"));
        row("typographic quotes",
            QStringLiteral("“smart” ‘single’ «guillemets» „low‟ 〝ditto〞 ＂fullwidth＂"));
        row("ANSI-C quoting", QStringLiteral("$'\\x41\\n' $\"text\""));
        // Substitution and expansion.
        row("command substitution", QStringLiteral("$(touch \"$HOME/pwned-subst\")"));
        row("nested substitution", QStringLiteral("$(echo $(touch ~/pwned-nested))"));
        row("backquotes", QStringLiteral("`touch $HOME/pwned-backquote`"));
        row("arithmetic", QStringLiteral("$((6*7)) $[1+1]"));
        row("variables", QStringLiteral("$HOME ${HOME} $0 $$ $? $# $@ $* $BV_TASK $BV_BIN"));
        row("assigning expansion", QStringLiteral("${X:=$(touch ~/pwned-assign)}"));
        row("zsh expansion flags", QStringLiteral("${(e)X} ${(P)HOME} $(<~/.zshrc)"));
        row("process substitution",
            QStringLiteral("<(touch ~/pwned-procsubst) >(touch ~/pwned-procout)"));
        row("equals expansion", QStringLiteral("=ls =sh"));
        row("history expansion", QStringLiteral("!! !$ !-1 ^a^b"));
        row("brace expansion", QStringLiteral("{a,b,c} {1..3} pwned-{x,y}"));
        // Command separators and redirections.
        row("semicolon", QStringLiteral("a; touch ~/pwned-semicolon"));
        row("lone semicolon", QStringLiteral(";"));
        row("and", QStringLiteral("true && touch ~/pwned-and"));
        row("or", QStringLiteral("false || touch ~/pwned-or"));
        row("pipe", QStringLiteral("echo x | tee ~/pwned-pipe"));
        row("redirect", QStringLiteral("> ~/pwned-redirect"));
        row("append", QStringLiteral(">> ~/pwned-append 2>&1"));
        row("here document", QStringLiteral("cat <<EOF > ~/pwned-heredoc\nx\nEOF"));
        row("background", QStringLiteral("touch ~/pwned-bg &"));
        row("exec", QStringLiteral("exec touch ~/pwned-exec"));
        row("comment", QStringLiteral("# not a comment"));
        // Globs and tildes.
        row("globs", QStringLiteral("* ? [a-z] **/* .*"));
        row("lone star", QStringLiteral("*"));
        row("zsh glob qualifier", QStringLiteral("*(e:'touch ~/pwned-qualifier':)"));
        row("extended glob", QStringLiteral("^*.txt *~*.c (#i)A"));
        row("tildes", QStringLiteral("~ ~root ~+ ~- ~/"));
        // Backslashes and line breaks.
        row("backslashes", QStringLiteral("a\\b \\n \\\\ \\$HOME \\`x\\`"));
        row("trailing backslash", QStringLiteral("ends with \\"));
        row("literal backslash zero", QStringLiteral("\\0 \\x00"));
        row("line breaks inside", QStringLiteral("first\nsecond\n\nthird"));
        row("line break then command", QStringLiteral("x\ntouch ~/pwned-newline"));
        row("tabs inside", QStringLiteral("a\tb\t\tc"));
        row("control characters", QStringLiteral("bell\x07 escape\x1b[31mred\x1b[0m del\x7f"));
        row("printf directives", QStringLiteral("%s %n %d %% %x"));
        // Leading dashes.
        row("leading dash", QStringLiteral("-rf /"));
        row("double dash", QStringLiteral("--help"));
        row("lone dash", QStringLiteral("-"));
        row("end of options", QStringLiteral("--"));
        row("tool's own option", QStringLiteral("-p"));
        // Size.
        row("very long word", QString(30000, QLatin1Char('w')));
        row("many words", repeated(QStringLiteral("word"), 3000, QLatin1Char(' ')));
        row("many lines", repeated(QStringLiteral("line"), 1000, QLatin1Char('\n')));
        // Scripts, combining marks and emoji.
        row("right to left", QStringLiteral("مرحبا بالعالم שלום עולם"));
        row("bidi overrides", QStringLiteral("abc\u202Etxt.exe\u202C \u2067isolate\u2069"));
        row("combining marks", QStringLiteral("e\u0301 a\u0308 n\u0303 Z\u0351\u0352\u0353"));
        row("emoji with joiners",
            QStringLiteral("👨‍👩‍👧‍👦 🧑🏽‍💻 👍🏽"));
        row("flags and keycaps", QStringLiteral("🇫🇷🇯🇵 1️⃣ #️⃣"));
        row("CJK", QStringLiteral("日本語のテキスト 中文 한국어"));
        row("astral letters", QStringLiteral("𝔘𝔫𝔦𝔠𝔬𝔡𝔢 𓀀"));
        row("no-break and odd spaces", QStringLiteral("a\u00A0b\u2009c\u200Bd\u3000e"));
        row("line separator inside", QStringLiteral("a\u2028b"));
        // Trimmed by the window before it runs.
        row("surrounding blanks", QStringLiteral("  padded task \n"),
            QStringLiteral("padded task"));
        row("surrounding Unicode blanks", QStringLiteral("\u3000\ttask\u00A0\u2028"),
            QStringLiteral("task"));
    }
    void taskReachesEveryToolVerbatim()
    {
        QFETCH(QString, task);
        QFETCH(QString, expected);
        if (expected.isNull())
            expected = task;
        m_rig->forgetArgs();
        QVERIFY(m_rig->run(task));
        // The field hands over the text as typed; trimming is the model's.
        QCOMPARE(m_rig->model()->task(), task);
        const QByteArray bytes = expected.toUtf8();
        QCOMPARE(m_rig->args("claude"), (QList<QByteArray>{"-p", bytes}));
        QCOMPARE(m_rig->args("gemini"), (QList<QByteArray>{"-p", bytes}));
        QCOMPARE(m_rig->args("hermes"), (QList<QByteArray>{"chat", "-q", bytes}));
        for (int i = 0; i < 3; ++i)
            QVERIFY(m_rig->model()->runners()[i]->state().isDone());
        QCOMPARE(m_rig->evidence(), QStringList());
    }

    // More than the kernel takes for one environment string.
    void oversizedTaskFailsInEveryColumn_data()
    {
        QTest::addColumn<QString>("task");
        const QString line = QString(79, QLatin1Char('x')) + QLatin1Char('\n');
        QTest::newRow("lines, as a pasted log") << line.repeated((2 << 20) / line.size());
        // Minified text: one word the field must not take minutes to wrap.
        QTest::newRow("one unbroken word") << QString(2 << 20, QLatin1Char('y'));
    }
    void oversizedTaskFailsInEveryColumn()
    {
        QFETCH(QString, task);
        m_rig->forgetArgs();
        QElapsedTimer typing;
        typing.start();
        QVERIFY(m_rig->runPasted(task));
        qInfo("pasting and running took %lld ms", typing.elapsed());
        const QString message =
            QStringLiteral("Failed to launch: ") + QString::fromLocal8Bit(std::strerror(E2BIG));
        for (int i = 0; i < 3; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(m_rig->showsStatus(i, QStringLiteral("Failed")), deadline);
            QCOMPARE(m_rig->shownTranscript(i), message);
        }
        QVERIFY(m_rig->args("claude").isEmpty());

        // The window goes on working.
        QVERIFY(m_rig->run(QStringLiteral("after the failure")));
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(m_rig->showsStatus(i, QStringLiteral("Finished")), deadline);
        QCOMPARE(m_rig->args("hermes"),
                 (QList<QByteArray>{"chat", "-q", QByteArray("after the failure")}));
    }

    // A pasted U+0000 would cut the task short on its way to the tool: the
    // launch is refused instead, and the column says why.
    void pastedNulIsRefusedInEveryColumn()
    {
        m_rig->forgetArgs();
        QVERIFY(m_rig->runPasted(QStringLiteral("delete nothing") + QChar(0) +
                                 QStringLiteral(" rm -rf ~")));
        QVERIFY(m_rig->model()->task().contains(QChar(0)));
        for (int i = 0; i < 3; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(m_rig->showsStatus(i, QStringLiteral("Failed")), deadline);
            QCOMPARE(m_rig->shownTranscript(i),
                     QStringLiteral("Failed to launch: The task contains a NUL character, "
                                    "which no program can receive"));
        }
        for (const char* name : toolNames)
            QVERIFY(m_rig->args(name).isEmpty());
    }

private:
    std::unique_ptr<Rig> m_rig;
};

QTEST_MAIN(TestHostile)
#include "tst_ui_hostile.moc"
