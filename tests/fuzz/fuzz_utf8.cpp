// Cutting the bytes anywhere must not change the decoded text, and the text
// must be well-formed UTF-16 that agrees with Qt wherever the input was valid.
#include "fuzzinput.h"
#include "text/utf8.h"

#include <QStringDecoder>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input input(data, size);
    const QByteArrayView bytes(input.payload);
    const QString whole = decodeUtf8(bytes);

    require(whole.size() <= bytes.size(), "no byte yields more than one UTF-16 unit");
    // Keeping a leading byte order mark, as a transcript keeps every character
    // (QString::fromUtf8 drops it).
    QStringDecoder qt(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    if (!whole.contains(QChar(0xFFFD)))
        require(whole == qt.decode(bytes), "valid input decodes as Qt decodes it");
    // A lone surrogate would not survive the round trip.
    require(decodeUtf8(whole.toUtf8()) == whole, "decoding its own encoding is lossless");

    require(streamInPieces(bytes, input.cuts(bytes.size()), &Utf8Decoder::decode) == whole,
            "cut decoding equals whole decoding");
    return 0;
}
