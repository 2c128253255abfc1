#pragma once

#include <QByteArrayView>

class TranscriptDocument;

// Fills `document` with one file's unified diff as git prints it, replacing
// what it held (one cleared() and at most one appended(0)). The text is the
// diff's own, decoded as UTF-8 with U+FFFD for what is not; the roles mark
// added and removed lines, file and hunk headers, and git's notes ("\ No
// newline at end of file", "Binary files … differ") as Dim. One pass over
// the bytes: consecutive lines of one role make one run.
void setUnifiedDiff(TranscriptDocument& document, QByteArrayView diff);
