// Feeds 20 MiB of transcript into one TranscriptView in 64 KiB chunks, the
// way a flooding tool's output arrives, with a forced repaint after every
// few chunks, and prints what the view costs: throughput and the worst
// single call. Figures only; run by hand on the offscreen platform:
//
//     build/bench/bench_transcript

#include "ui/transcriptview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qsizetype totalSize = 20 * 1024 * 1024;
constexpr qsizetype chunkSize = 64 * 1024;
constexpr int chunksPerRepaint = 4;

// About 90 characters a line, with now and then a tab or characters outside
// Latin-1 (one outside the BMP), as agent tools print.
QString makeText()
{
    QString text;
    text.reserve(totalSize + 256);
    for (int n = 0; text.size() < totalSize; ++n) {
        text += QStringLiteral("%1 the quick brown fox jumps over the lazy dog, then naps a while ")
                    .arg(n, 8, 10, QLatin1Char('0'));
        if (n % 10 == 0)
            text += QStringLiteral("caf\u00e9 \u2014 \u65e5\u672c \U0001F600\t|");
        else
            text += QStringLiteral("and wakes up again.");
        text += QLatin1Char('\n');
    }
    text.truncate(totalSize);
    return text;
}

double ms(qint64 ns)
{
    return ns / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QString source = makeText();
    QString text;
    text.reserve(source.size());
    TranscriptView view;
    view.setSource([&text] { return QStringView(text); });
    view.resize(420, 700);
    view.show();
    QApplication::processEvents();

    qint64 viewNs = 0;
    qint64 worstCallNs = 0;
    qint64 paintNs = 0;
    qint64 worstPaintNs = 0;
    int paints = 0;
    int chunks = 0;
    QElapsedTimer wall;
    wall.start();
    for (qsizetype at = 0; at < source.size(); at += chunkSize) {
        text.append(QStringView(source).sliced(at, std::min(chunkSize, source.size() - at)));
        QElapsedTimer call;
        call.start();
        view.extendText();
        view.scrollToEnd();
        const qint64 ns = call.nsecsElapsed();
        viewNs += ns;
        worstCallNs = std::max(worstCallNs, ns);
        if (++chunks % chunksPerRepaint == 0) {
            call.restart();
            view.viewport()->repaint();
            const qint64 paint = call.nsecsElapsed();
            paintNs += paint;
            worstPaintNs = std::max(worstPaintNs, paint);
            ++paints;
        }
    }
    const qint64 wallNs = wall.nsecsElapsed();
    const double mib = text.size() / (1024.0 * 1024.0);

    QElapsedTimer step;
    step.start();
    view.resize(300, 700);
    QApplication::processEvents();
    const qint64 rewrapNs = step.nsecsElapsed();
    step.restart();
    view.selectAll();
    const qsizetype selected = view.selectedText().size();
    const qint64 selectNs = step.nsecsElapsed();

    std::printf("transcript: %.1f MiB in %d chunks of %lld KiB, %lld lines, %lld rows\n", mib,
                chunks, static_cast<long long>(chunkSize / 1024),
                static_cast<long long>(view.lineCount()), static_cast<long long>(view.rowCount()));
    std::printf("  whole loop (append + index + scroll + paints): %.0f ms, %.0f MiB/s\n",
                ms(wallNs), mib / (wallNs / 1e9));
    std::printf("  index + scroll: %.0f ms in all, %.0f MiB/s, worst call %.2f ms\n", ms(viewNs),
                mib / (viewNs / 1e9), ms(worstCallNs));
    std::printf("  repaint every %d chunks: %d paints, mean %.2f ms, worst %.2f ms\n",
                chunksPerRepaint, paints, ms(paintNs) / std::max(1, paints), ms(worstPaintNs));
    std::printf("  rewrap at a new width: %.2f ms; select all + selected text (%lld chars): "
                "%.2f ms\n",
                ms(rewrapNs), static_cast<long long>(selected), ms(selectNs));
    return 0;
}
