#include "ui/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

void addCommandLineOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Hands one task to several command-line agent tools and shows what each "
                       "prints, side by side."));
    parser.addHelpOption();
    parser.addVersionOption();
}
