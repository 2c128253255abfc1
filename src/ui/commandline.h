#pragma once

#include <QString>

class QCommandLineParser;

// Describes Brevane's command line to `parser`: --help, --version and the
// options and arguments the application takes. New ones join here.
void addCommandLineOptions(QCommandLineParser& parser);

// The folder the first window works in, from a parsed command line: the
// FOLDER argument made absolute, or empty for the default. When FOLDER is not
// a folder the tools could work in, *error says why, ready for stderr
// ("brevane: FOLDER: reason").
QString startFolder(const QCommandLineParser& parser, QString* error);
