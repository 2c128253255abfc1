#include "platform/childprocess.h"
#include "platform/mainthread.h"
#include "platform/processowner.h"

#include <QTest>

#include <csignal>
#include <thread>

namespace {

struct Collected {
    QString text;
    std::optional<int> status; // set once the child's end is delivered
};

std::shared_ptr<ChildProcess> start(ProcessOwner& owner, const QByteArray& program,
                                    const QByteArray& script, Collected& out)
{
    return ChildProcess::start(
        owner, {program, {"-c", script}, {"PATH=/usr/bin:/bin"}, {}},
        {[](QByteArrayView bytes, bool) { return QString::fromLatin1(bytes); },
         [&out](const QString& text) { out.text += text; },
         [&out](int status) { out.status = status; }},
        nullptr);
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

    void handOverKeepsOrder()
    {
        // Units from another thread run on this one, in the order handed over.
        QList<int> order, expected;
        ProcessOwner owner;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                owner.handOver([&, i] { order << (MainThread::isCurrent() ? i : -1); });
        });
        worker.join();
        for (int i = 0; i < 100; ++i)
            expected << i;
        QTRY_COMPARE_WITH_TIMEOUT(order, expected, 5000);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
