#include "platform/childprocess.h"
#include "platform/processowner.h"

#include <QTest>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

namespace {

struct Collected {
    QString text;
    std::optional<int> status; // set once the child's end is delivered
};

std::shared_ptr<ChildProcess> start(ProcessOwner& owner, const QByteArray& program,
                                    const QByteArray& script, Collected& out,
                                    QString* error = nullptr)
{
    return ChildProcess::start(
        owner, {program, {"-c", script}, {"PATH=/usr/bin:/bin"}, {}},
        {[](QByteArrayView bytes, bool) { return QString::fromLatin1(bytes); },
         [&out](const QString& text) { out.text += text; },
         [&out](int status) { out.status = status; }},
        error);
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void childSeesOnlyItsThreeStandardDescriptors()
    {
        // Two children at once: neither may inherit the other's pipe.
        ProcessOwner owner;
        Collected first, second;
        auto a = start(owner, "/bin/sh", "exec sleep 5", first);
        auto b =
            start(owner, "/bin/sh", "ls /proc/self/fd; echo --; ls -l /proc/self/fd/0", second);
        QVERIFY(a && b);
        QTRY_VERIFY_WITH_TIMEOUT(second.status, 10000);
        // ls itself opens the directory it lists: one more entry, 3.
        QCOMPARE(second.text.section(QStringLiteral("--\n"), 0, 0), QStringLiteral("0\n1\n2\n3\n"));
        QVERIFY2(second.text.contains(QStringLiteral("/dev/null")), qPrintable(second.text));
        a->terminate();
        QTRY_COMPARE_WITH_TIMEOUT(first.status.value_or(-1), SIGTERM, 10000);
    }

    void launchFailureIsReportedAtOnce()
    {
        ProcessOwner owner;
        Collected out;
        QString error;
        QVERIFY(!start(owner, "/nonexistent/brevane-tool", "", out, &error));
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
        QVERIFY(!QTest::qWaitFor([&] { return out.status || !out.text.isEmpty(); }, 100));
    }

    void handOverKeepsOrder()
    {
        QStringList order;
        QThread* mainThread = QThread::currentThread();
        const auto note = [&](const QString& what) {
            order << (QThread::currentThread() == mainThread ? what : what + " off the GUI thread");
        };
        ProcessOwner owner;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                owner.handOver([&, i] { note(QString::number(i)); });
        });
        worker.join();
        QStringList expected;
        for (int i = 0; i < 100; ++i)
            expected << QString::number(i);
        QTRY_COMPARE_WITH_TIMEOUT(order, expected, 5000);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
