#include "ui/commandline.h"

#include "platform/files.h"
#include "platform/spawn.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

void addCommandLineOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Hands one task to several command-line agent tools and shows what each "
                       "prints, side by side."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("FOLDER"),
        QCoreApplication::translate("CommandLine", "The folder the tools work in (default: the "
                                                   "current folder, or home when that is /)."),
        QStringLiteral("[FOLDER]"));
}

QString startFolder(const QCommandLineParser& parser, QString* error)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return QString();
    if (positional.size() > 1) {
        *error = QStringLiteral("brevane: ") +
                 QCoreApplication::translate("CommandLine", "one folder at most");
        return QString();
    }
    const QString folder = positional.first();
    if (const int reason = folderError(QFile::encodeName(folder))) {
        *error = QStringLiteral("brevane: %1: %2").arg(folder, systemErrorText(reason));
        return QString();
    }
    return QDir::cleanPath(QDir::current().absoluteFilePath(folder));
}
