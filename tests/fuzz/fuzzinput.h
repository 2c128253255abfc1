#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// One fuzzer input, split in two: up to eight cut points taken from its tail
// and the payload (the rest). The cut points are offsets into a sequence of
// `length` units, sorted, each in 0..length.
struct Input {
    std::vector<char> payload;
    std::vector<std::uint16_t> rawCuts;

    Input(const std::uint8_t* data, std::size_t size)
    {
        FuzzedDataProvider provider(data, size);
        const int count = provider.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < count && provider.remaining_bytes() > 0; ++i)
            rawCuts.push_back(provider.ConsumeIntegral<std::uint16_t>());
        payload = provider.ConsumeRemainingBytes<char>();
    }

    std::vector<qsizetype> cuts(qsizetype length) const
    {
        std::vector<qsizetype> out;
        for (std::uint16_t raw : rawCuts)
            out.push_back(raw % (length + 1));
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Hands `whole` to `feed` in pieces cut at `cuts` and concatenates what it
// returns.
template <typename View, typename Feed>
QString feedInPieces(View whole, const std::vector<qsizetype>& cuts, Feed feed)
{
    QString out;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        out += feed(whole.sliced(from, cut - from));
        from = cut;
    }
    out += feed(whole.sliced(from));
    return out;
}

// Aborts, so libFuzzer records the input, when a property does not hold.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        fprintf(stderr, "property broken: %s\n", what);
        abort();
    }
}
