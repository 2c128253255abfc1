#include "testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

// The manual page (BREVANE_MANPAGE) against the program it describes: its
// OPTIONS are those `brevane --help` prints, no more and no fewer, and the
// folders its FILES names are those the tools are looked for in.

namespace {

// What `brevane --help` prints, in English.
QString help()
{
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(BREVANE_APP), {QStringLiteral("--help")});
    if (!app.waitForFinished(deadline) || app.exitStatus() != QProcess::NormalExit ||
        app.exitCode() != 0)
        return QString();
    return QString::fromUtf8(app.readAllStandardOutput());
}

// The lines of the block of --help headed `heading` ("Options:").
QStringList helpBlock(const QString& help, const QString& heading)
{
    const QStringList lines = help.split(u'\n');
    QStringList block;
    for (qsizetype i = lines.indexOf(heading) + 1; i > 0 && i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            break;
        block << lines[i];
    }
    return block;
}

// "-h", "--help", … from --help: each entry's left column ("-h, --help"),
// ended by two spaces, each name without its "<value>".
QSet<QString> helpOptions(const QString& help)
{
    QSet<QString> options;
    for (const QString& line : helpBlock(help, QStringLiteral("Options:"))) {
        const QString entry = line.trimmed();
        if (!entry.startsWith(u'-'))
            continue; // a description's second line
        for (const QString& name :
             entry.left(entry.indexOf(QStringLiteral("  "))).split(QStringLiteral(", ")))
            options << name.section(u' ', 0, 0);
    }
    return options;
}

// The source lines of the page's section `name`, up to the next .SH.
QStringList manSection(const QString& page, const QString& name)
{
    const QStringList lines = page.split(u'\n');
    const qsizetype start = lines.indexOf(QStringLiteral(".SH ") + name);
    QStringList section;
    for (qsizetype i = start + 1; start >= 0 && i < lines.size(); ++i) {
        if (lines[i].startsWith(QStringLiteral(".SH ")))
            break;
        section << lines[i];
    }
    return section;
}

// A roff line as text: "\-" as "-", without font changes.
QString unescaped(QString line)
{
    static const QRegularExpression font(QStringLiteral("\\\\f(\\[[^\\]]*\\]|\\(..|.)"));
    return line.replace(QStringLiteral("\\-"), QStringLiteral("-")).remove(font);
}

// The options of OPTIONS: those in each item's tag, the line after .TP.
QSet<QString> manOptions(const QString& page)
{
    static const QRegularExpression option(QStringLiteral("(?:^|[\\s\"])(--?[A-Za-z0-9][-\\w]*)"));
    const QStringList section = manSection(page, QStringLiteral("OPTIONS"));
    QSet<QString> options;
    for (qsizetype i = 1; i < section.size(); ++i) {
        if (section[i - 1] != QStringLiteral(".TP"))
            continue;
        for (const QRegularExpressionMatch& match : option.globalMatch(unescaped(section[i])))
            options << match.captured(1);
    }
    return options;
}

QString sorted(const QSet<QString>& names)
{
    QStringList list(names.begin(), names.end());
    list.sort();
    return list.join(u' ');
}

} // namespace

class TestManPage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QFile file(QStringLiteral(BREVANE_MANPAGE));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        m_page = QString::fromUtf8(file.readAll());
        m_help = help();
        QVERIFY2(m_help.contains(QStringLiteral("Options:")), qPrintable(m_help));
    }

    void options()
    {
        const QSet<QString> printed = helpOptions(m_help);
        const QSet<QString> listed = manOptions(m_page);
        QVERIFY(printed.contains(QStringLiteral("--help")));
        QVERIFY2((printed - listed).isEmpty(),
                 qPrintable(QStringLiteral("in --help but not in the manual page: ") +
                            sorted(printed - listed)));
        QVERIFY2((listed - printed).isEmpty(),
                 qPrintable(QStringLiteral("in the manual page but not in --help: ") +
                            sorted(listed - printed)));
    }

private:
    QString m_page;
    QString m_help;
};

QTEST_GUILESS_MAIN(TestManPage)
#include "tst_ui_manpage.moc"
