// Renders a Brevane window offscreen to a PNG (scripts/screenshot writes
// docs/screenshot.png): one tool finished with output, one still running and
// one not installed. The tools are stand-ins in a temporary HOME, so nothing
// real is run and the picture is the same on every machine.
//
// Usage: QT_QPA_PLATFORM=offscreen brevane_screenshot OUTPUT.png

#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "ui/contentview.h"
#include "ui/mainwindow.h"
#include "ui/tasktextedit.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QStyleFactory>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>

#include <cstdlib>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString task = QStringLiteral("Explain what scripts/run does, step by step");

// The finished tool: a short, plausible answer.
const QByteArray claudeScript = R"(cat <<'END'
I read scripts/run and the files it calls.

It does four things, in order:

1. Runs scripts/install-deps, which adds
   Qt 6, CMake, Ninja and a compiler when
   they are missing (apt-get or Homebrew).
2. Configures a Release build in
   build-release/ with tests switched off.
3. Builds only the brevane target.
4. Launches the app: the binary on Linux,
   the app bundle via `open -W` on macOS.

It passes its arguments on to the app and
stops at the first step that fails
(set -euo pipefail).
END
)";

// The running tool: has printed a little and keeps working until stopped.
const QByteArray geminiScript = R"(cat <<'END'
Reading scripts/run...
Reading scripts/install-deps...

scripts/run is a small Bash wrapper. It first
makes sure the build dependencies are present,
END
exec sleep 60
)";

bool writeTool(const QString& path, const QByteArray& body)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write("#!/bin/sh\n" + body);
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               QFileDevice::ExeOwner);
}

// Runs the event loop for `pause`.
void runEventLoop(std::chrono::milliseconds pause)
{
    QEventLoop loop;
    QTimer::singleShot(pause, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds; false after 30 s.
bool waitFor(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(30s);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        runEventLoop(20ms);
    }
    return true;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "brevane_screenshot: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevane"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // A fixed home, so that the paths in the picture don't change from one
    // rendering to the next.
    QDir root(QDir::tempPath() + QStringLiteral("/brevane-screenshot"));
    root.removeRecursively();
    const QString home = root.filePath(QStringLiteral("alex"));
    qputenv("HOME", QFile::encodeName(home));
    if (!writeTool(home + QStringLiteral("/.local/bin/claude"), claudeScript) ||
        !writeTool(home + QStringLiteral("/.npm-global/bin/gemini"), geminiScript))
        fail("cannot write the stand-in tools");

    ProcessOwner owner;
    MainWindow window(owner);
    window.resize(1280, 720);
    window.show();
    ContentView* view = window.contentView();
    BrevaneModel* model = view->model();
    if (!waitFor([&] { return !model->scanning(); }))
        fail("the scan did not end");

    view->taskField()->insertPlainText(task);
    if (!waitFor([&] { return view->runButton()->isEnabled(); }))
        fail("Run did not become enabled");
    view->runButton()->click();
    const QList<AgentSession*>& runners = model->runners();
    if (!waitFor([&] {
            return runners[0]->state().isDone() &&
                   runners[1]->output().contains(QStringLiteral("dependencies"));
        }))
        fail("the stand-in tools did not produce their output");
    // Lets the columns render their last change and the spinners turn.
    runEventLoop(300ms);

    if (!window.grab().save(QString::fromLocal8Bit(argv[1])))
        fail("cannot write the image");
    model->stopAll();
    root.removeRecursively();
    return 0;
}
