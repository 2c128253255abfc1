#pragma once

#include "text/escapes.h"
#include "text/utf8.h"

#include <QByteArrayView>
#include <QString>

// What a tool writes, as a transcript shows it: bytes decoded as UTF-8, then
// cleaned of escape sequences. Fed the stream in chunks cut anywhere, it gives
// the same text as removeEscapes(decodeUtf8(whole stream)).
class ToolOutputDecoder {
public:
    QString decode(QByteArrayView chunk);
    // End of stream: what either stage still holds.
    QString finish();

private:
    Utf8Decoder m_decoder;
    EscapeCleaner m_cleaner;
};
