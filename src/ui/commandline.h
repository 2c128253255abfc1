#pragma once

class QCommandLineParser;

// Describes Brevane's command line to `parser`: --help, --version and the
// options and arguments the application takes. New ones join here.
void addCommandLineOptions(QCommandLineParser& parser);
