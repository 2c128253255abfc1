#include "platform/childprocess.h"
#include "platform/mainthread.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

namespace {

struct Collected {
    QString text;
    int status = -1000;
    bool ended = false;
};

std::shared_ptr<ChildProcess> startScript(const QByteArray& script, Collected& out,
                                          QString* error = nullptr)
{
    ChildProcess::Options options;
    options.program = "/bin/sh";
    options.arguments = {"-c", script};
    options.environment = {"PATH=/usr/bin:/bin"};
    ChildProcess::Handlers handlers;
    handlers.transform = [](QByteArrayView bytes, bool) { return QString::fromLatin1(bytes); };
    handlers.output = [&out](const QString& text) { out.text += text; };
    handlers.ended = [&out](int status) {
        out.status = status;
        out.ended = true;
    };
    return ChildProcess::start(options, std::move(handlers), error);
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void childSeesOnlyItsThreeStandardDescriptors()
    {
        // Two children at once: neither may inherit the other's pipe.
        Collected first, second;
        auto a = startScript("exec sleep 5", first);
        auto b = startScript("ls /proc/self/fd; ls -l /proc/self/fd/0", second);
        QVERIFY(a && b);
        QTRY_VERIFY_WITH_TIMEOUT(second.ended, 10000);
        // ls itself opens the directory it lists: one more entry, 3.
        const QStringList fds = second.text.split(QLatin1Char('\n')).mid(0, 4);
        QCOMPARE(fds, (QStringList{"0", "1", "2", "3"}));
        QVERIFY2(second.text.contains(QStringLiteral("/dev/null")), qPrintable(second.text));
        QVERIFY(a->isRunning());
        a->terminate();
        QTRY_VERIFY_WITH_TIMEOUT(first.ended, 10000);
        QCOMPARE(first.status, SIGTERM);
        QVERIFY(!a->isRunning());
    }

    void launchFailureIsReportedAtOnce()
    {
        ChildProcess::Options options;
        options.program = "/nonexistent/brevane-tool";
        QString error;
        bool called = false;
        ChildProcess::Handlers handlers;
        handlers.transform = [](QByteArrayView, bool) { return QString(); };
        handlers.output = [&](const QString&) { called = true; };
        handlers.ended = [&](int) { called = true; };
        QVERIFY(!ChildProcess::start(options, std::move(handlers), &error));
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
        QTest::qWait(50);
        QVERIFY(!called);
    }

    void handOverKeepsOrderAndPausesDoNotBlock()
    {
        QStringList order;
        QThread* mainThread = QThread::currentThread();
        bool allOnMainThread = true;
        // The first hand-over of the process may come from a background thread.
        std::thread worker([&] {
            MainThread::handOverAfter(std::chrono::milliseconds(100),
                                      [&] { order << QStringLiteral("late"); });
            for (int i = 0; i < 100; ++i)
                MainThread::handOver([&, i] {
                    allOnMainThread = allOnMainThread && QThread::currentThread() == mainThread;
                    order << QString::number(i);
                });
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 101, 5000);
        QVERIFY(allOnMainThread);
        QCOMPARE(order.last(), QStringLiteral("late"));
        for (int i = 0; i < 100; ++i)
            QCOMPARE(order[i], QString::number(i));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
