#pragma once

#include <QString>
#include <QStringView>

// Removes every match of ESC "\[[0-9;?]*[ -/]*[@-~]", left to right, without
// overlap; everything else (CR, BS, OSC sequences, ESC [ with '<' '=' '>' ':'
// parameters, ...) stays as it is.
QString removeEscapes(QStringView text);

// The same cleaning over a stream cut into chunks anywhere: an unfinished
// ESC [ sequence at the end of a chunk is held back and completed by the next
// chunk, so the result is the same as cleaning the whole text at once.
class EscapeCleaner {
public:
    QString clean(QStringView chunk);
    // End of stream: whatever is held back is returned as it stands.
    QString finish();

private:
    // How far the held-back candidate got; Matched and Failed are what
    // advance() reports when it stops before the end.
    enum class Phase : unsigned char;
    static const char16_t* advance(Phase& phase, const char16_t* p, const char16_t* end);

    QString m_held;
    Phase m_phase{};
};
