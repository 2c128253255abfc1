// Escape cleaning must remove exactly what one QRegularExpression replacement
// over the whole text removes, however the text or its bytes are cut.
#include "fuzzinput.h"
#include "text/escapes.h"
#include "text/tooloutput.h"
#include "text/utf8.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QRegularExpression pattern(QStringLiteral("\x1b\\[[0-9;?]*[ -/]*[@-~]"));
    const Input input(data, size);
    const QByteArrayView bytes(input.payload.data(), qsizetype(input.payload.size()));
    const QString text = decodeUtf8(bytes);
    const QString whole = removeEscapes(text);
    require(whole == QString(text).replace(pattern, QString()), "equals the regex replacement");

    EscapeCleaner cleaner;
    QString streamed = feedInPieces(QStringView(text), input.cuts(text.size()),
                                    [&](QStringView piece) { return cleaner.clean(piece); });
    streamed += cleaner.finish();
    require(streamed == whole, "cut text cleans like whole text");

    // The way a runner uses them: raw chunks decoded, then cleaned.
    ToolOutputDecoder decoder;
    QString piped = feedInPieces(bytes, input.cuts(bytes.size()),
                                 [&](QByteArrayView piece) { return decoder.decode(piece); });
    piped += decoder.finish();
    require(piped == whole, "cut bytes decode and clean like whole bytes");
    return 0;
}
