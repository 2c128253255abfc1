// Escape cleaning must give the same text however the text or its bytes are
// cut, leave no ESC and no C1 control but NEL, and only ever take characters
// away: what it gives is the input with some characters left out.
#include "fuzzinput.h"
#include "text/escapes.h"
#include "text/tooloutput.h"
#include "text/utf8.h"

namespace {

bool isControl(char16_t c)
{
    return c == 0x1B || (c >= 0x80 && c <= 0x9F);
}

bool isSubsequence(QStringView part, QStringView whole)
{
    qsizetype at = 0;
    for (QChar c : part) {
        at = whole.indexOf(c, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input input(data, size);
    const QByteArrayView bytes(input.payload);
    const QString text = decodeUtf8(bytes);
    const QString whole = removeEscapes(text);
    require(std::none_of(whole.begin(), whole.end(),
                         [](QChar c) { return c.unicode() != 0x85 && isControl(c.unicode()); }),
            "leaves no ESC and no C1 control but NEL");
    require(isSubsequence(whole, text), "only takes characters away");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return isControl(c.unicode()); }))
        require(whole == text, "leaves text without ESC and C1 controls alone");

    require(streamInPieces(QStringView(text), input.cuts(text.size()), &EscapeCleaner::clean) ==
                whole,
            "cut text cleans like whole text");
    // The way a runner uses them: raw chunks decoded, then cleaned.
    require(streamInPieces(bytes, input.cuts(bytes.size()), &ToolOutputDecoder::decode) == whole,
            "cut bytes decode and clean like whole bytes");
    return 0;
}
