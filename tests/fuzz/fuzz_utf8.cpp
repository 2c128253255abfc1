// Cutting the bytes anywhere must not change the decoded text, and the text
// must be well-formed UTF-16 that agrees with Qt wherever the input was valid.
#include "fuzzinput.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input input(data, size);
    const QByteArrayView bytes(input.payload.data(), qsizetype(input.payload.size()));
    const QString whole = decodeUtf8(bytes);

    require(whole.size() <= bytes.size(), "no byte yields more than one UTF-16 unit");
    for (qsizetype i = 0; i < whole.size(); ++i) {
        const QChar c = whole[i];
        if (c.isHighSurrogate())
            require(i + 1 < whole.size() && whole[i + 1].isLowSurrogate(), "paired high surrogate");
        if (c.isLowSurrogate())
            require(i > 0 && whole[i - 1].isHighSurrogate(), "paired low surrogate");
    }
    if (!whole.contains(QChar(0xFFFD)))
        require(whole == QString::fromUtf8(bytes), "valid input decodes as Qt decodes it");
    require(decodeUtf8(whole.toUtf8()) == whole, "decoding its own encoding is lossless");

    Utf8Decoder decoder;
    QString streamed = feedInPieces(bytes, input.cuts(bytes.size()),
                                    [&](QByteArrayView piece) { return decoder.decode(piece); });
    streamed += decoder.finish();
    require(streamed == whole, "cut decoding equals whole decoding");
    return 0;
}
