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
    const QByteArrayView bytes(input.payload);
    const QString text = decodeUtf8(bytes);
    const QString whole = removeEscapes(text);
    require(whole == QString(text).replace(pattern, QString()), "equals the regex replacement");

    require(streamInPieces(QStringView(text), input.cuts(text.size()), &EscapeCleaner::clean) ==
                whole,
            "cut text cleans like whole text");
    // The way a runner uses them: raw chunks decoded, then cleaned.
    require(streamInPieces(bytes, input.cuts(bytes.size()), &ToolOutputDecoder::decode) == whole,
            "cut bytes decode and clean like whole bytes");
    return 0;
}
