#include "usage.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

template <typename T> void add(std::optional<T>& sum, const std::optional<T>& term)
{
    if (term)
        sum = sum.value_or(T{}) + *term;
}

// Counts read the same in every language the figures are shown beside.
QString count(qint64 n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

QString cost(double usd)
{
    if (usd == 0)
        return u"$0"_s;
    // Cents hide what a short turn costs; four places show it.
    return u'$' + QString::number(usd, 'f', std::abs(usd) < 1 ? 4 : 2);
}

QString duration(qint64 ms)
{
    if (ms < 60'000)
        return QString::number(double(ms) / 1000, 'f', 1) + u" s"_s;
    const qint64 seconds = (ms + 500) / 1000;
    if (seconds < 3600)
        return u"%1 min %2 s"_s.arg(seconds / 60).arg(seconds % 60);
    return u"%1 h %2 min"_s.arg(seconds / 3600).arg(seconds % 3600 / 60);
}

} // namespace

Usage& Usage::operator+=(const Usage& other)
{
    add(turns, other.turns);
    add(inputTokens, other.inputTokens);
    add(outputTokens, other.outputTokens);
    add(costUsd, other.costUsd);
    add(durationMs, other.durationMs);
    return *this;
}

QString describeUsage(const Usage& usage)
{
    QStringList parts;
    if (usage.turns)
        parts << count(*usage.turns) + (*usage.turns == 1 ? u" turn"_s : u" turns"_s);
    if (usage.inputTokens && usage.outputTokens)
        parts << u"%1 in / %2 out tokens"_s.arg(count(*usage.inputTokens),
                                                count(*usage.outputTokens));
    else if (usage.inputTokens)
        parts << count(*usage.inputTokens) + u" in tokens"_s;
    else if (usage.outputTokens)
        parts << count(*usage.outputTokens) + u" out tokens"_s;
    if (usage.costUsd)
        parts << cost(*usage.costUsd);
    if (usage.durationMs)
        parts << duration(*usage.durationMs);
    return parts.join(u" · "_s);
}
