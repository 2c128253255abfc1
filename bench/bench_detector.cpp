// How long Detector::find() takes for a tool in the first home directory
// (~/.local/bin, no shell) and for a missing tool (one login shell with an
// empty profile), beside the bare cost of "/bin/zsh -lc true" on this
// machine. Runs in a temporary HOME; prints medians.

#include "catalog/detector.h"
#include "platform/spawn.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sys/wait.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
// Odd, so the median is one run. The three measurements take turns within
// each round, so a machine that gets busier or quieter affects them alike.
constexpr int rounds = 15;

double elapsedMicroseconds(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

std::vector<double> medianMicroseconds(const std::vector<std::function<void()>>& works)
{
    std::vector<std::vector<double>> times(works.size());
    for (const auto& work : works)
        work(); // warm caches before measuring
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < works.size(); ++i)
            times[i].push_back(elapsedMicroseconds(works[i]));
    std::vector<double> medians;
    for (std::vector<double>& t : times) {
        std::sort(t.begin(), t.end());
        medians.push_back(t[rounds / 2]);
    }
    return medians;
}

void runZshTrue()
{
    SpawnRequest request;
    request.program = "/bin/zsh";
    request.arguments = {"-lc", "true"};
    const SpawnResult spawned = spawnProcess(request);
    if (!spawned.ok())
        return;
    pid_t r;
    do {
        r = ::waitpid(spawned.pid, nullptr, 0);
    } while (r < 0 && errno == EINTR);
}

bool writeFile(const QString& path, const QByteArray& content, QFileDevice::Permissions perms)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size() && file.setPermissions(perms);
}

} // namespace

int main()
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("ZDOTDIR");
    const QString tool = QStringLiteral("brevane-bench-tool");
    const QString missing = QStringLiteral("brevane-bench-missing");
    const auto readWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!writeFile(home.filePath(".zprofile"), QByteArray(), readWrite) ||
        !writeFile(home.filePath(".local/bin/" + tool), "#!/bin/sh\n",
                   readWrite | QFileDevice::ExeOwner))
        return 1;
    if (!Detector::find(tool).path || Detector::find(missing).path) {
        std::fprintf(stderr, "unexpected discovery result\n");
        return 1;
    }

    const std::vector<double> medians = medianMicroseconds({
        [&] { Detector::find(tool); },
        [&] { Detector::find(missing); },
        runZshTrue,
    });
    const double found = medians[0];
    const double notFound = medians[1];
    const double bare = medians[2];

    std::printf("Detector::find, median of %d runs\n", rounds);
    std::printf("  found in ~/.local/bin        %10.1f us  (%.4f x zsh)\n", found, found / bare);
    std::printf("  missing, empty profile       %10.1f us  (%.2f x zsh)\n", notFound,
                notFound / bare);
    std::printf("  bare /bin/zsh -lc true       %10.1f us\n", bare);
    return 0;
}
