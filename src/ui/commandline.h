#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QCommandLineParser;

// Describes Brevane's command line to `parser`: --help, --version and the
// options and arguments the application takes. New ones join here.
void addCommandLineOptions(QCommandLineParser& parser);

// The folder the first window works in, from a parsed command line: the
// FOLDER argument made absolute, or empty for the default. `arguments` is
// the command line the parser read, as the bytes it came in (argv after
// QApplication took its own options): FOLDER keeps its bytes even where they
// are not UTF-8. When FOLDER is not a folder the tools could work in, *error
// says why, ready for stderr ("brevane: FOLDER: reason").
QByteArray startFolder(const QCommandLineParser& parser, const QList<QByteArray>& arguments,
                       QString* error);
