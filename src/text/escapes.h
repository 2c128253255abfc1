#pragma once

#include <QString>
#include <QStringView>

// Removes what a terminal acts on instead of showing, by the grammar of
// ECMA-48:
// - CSI (ESC [ or U+009B), then parameter bytes 0x30-0x3F and intermediate
//   bytes 0x20-0x2F in any order, up to a final byte 0x40-0x7E;
// - the control strings OSC (ESC ] or U+009D), up to BEL or ST (ESC \ or
//   U+009C), and DCS, SOS, PM and APC (ESC P, X, ^, _ or U+0090, U+0098,
//   U+009E, U+009F), up to ST. A hyperlink (OSC 8) is two such strings
//   around its text: both go, the text stays;
// - any other escape sequence: ESC, intermediates 0x20-0x2F, one final byte
//   0x30-0x7E (ESC ( B, ESC =, ESC 7, ESC c, ...);
// - the C1 controls U+0080-U+009F, except NEL (U+0085), a line end.
// Everything else stays, the C0 controls (CR, BS, TAB, BEL, ...) and DEL
// included, for the layout to deal with. A sequence that breaks the grammar
// goes the way a terminal takes it:
// - a C0 control inside a CSI or escape sequence stays in the text and the
//   sequence goes on; a DEL inside one is dropped;
// - ESC or a C1 control inside any sequence ends it and is then taken as
//   usual (so ESC \ ends a control string as ST and ESC ] 0;x ESC [ m drops
//   both); CAN and SUB end any sequence and go with it;
// - a character from U+00A0 up ends a CSI or escape sequence and is shown;
//   inside a control string it is part of the string (a title, a URL);
// - a control string still open after 4096 units is given up: those units go
//   and what follows is shown, so one stray ESC ] cannot hide a whole run;
// - a sequence still open at the end of the text is dropped.
QString removeEscapes(QStringView text);

// The same cleaning over a stream cut into chunks anywhere, with the same
// result as cleaning it whole. Between chunks the cleaner keeps where it is in
// a sequence, never the sequence itself, so a chunk costs work in proportion
// to its own length however long a sequence runs across chunks.
class EscapeCleaner {
public:
    QString clean(QStringView chunk);
    // End of stream: a sequence still open is dropped, so nothing comes back;
    // the cleaner is then ready for a new stream.
    QString finish();

private:
    enum class State : unsigned char;
    // Takes one unit, writing at most that unit to out.
    void take(char16_t c, char16_t*& out);
    void openString(State state);

    State m_state{};
    // Units of the open control string so far.
    qsizetype m_stringLength = 0;
};
