#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

// One fuzzer input, split in two: up to eight cut points taken from its head,
// and the payload (the rest).
struct Input {
    std::vector<std::uint16_t> rawCuts;
    QByteArray payload;

    Input(const std::uint8_t* data, std::size_t size)
    {
        FuzzedDataProvider provider(data, size);
        rawCuts.resize(provider.ConsumeIntegralInRange(0, 8));
        for (std::uint16_t& raw : rawCuts)
            raw = provider.ConsumeIntegral<std::uint16_t>();
        payload = QByteArray::fromStdString(provider.ConsumeRemainingBytesAsString());
    }

    // The cut points as offsets into a sequence of `length` units, sorted,
    // each in 0..length.
    std::vector<qsizetype> cuts(qsizetype length) const
    {
        std::vector<qsizetype> out;
        for (std::uint16_t raw : rawCuts)
            out.push_back(raw % (length + 1));
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Hands `whole` to a new Stream through `feed`, in pieces cut at `cuts`,
// and returns all it gives back, finish() included.
template <typename Stream, typename View>
QString streamInPieces(View whole, const std::vector<qsizetype>& cuts,
                       QString (Stream::*feed)(View))
{
    Stream stream;
    QString out;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        out += (stream.*feed)(whole.sliced(from, cut - from));
        from = cut;
    }
    out += (stream.*feed)(whole.sliced(from));
    return out + stream.finish();
}

// Aborts, so libFuzzer records the input, when a property does not hold.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        fprintf(stderr, "property broken: %s\n", what);
        abort();
    }
}
