#include "ui/commandline.h"

#include "platform/files.h"
#include "platform/spawn.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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
    parser.addOption(QCommandLineOption(
        QStringLiteral("no-history"),
        QCoreApplication::translate("CommandLine",
                                    "Keep no history of sessions: nothing is read from it or "
                                    "written to it.")));
}

QByteArray startFolder(const QCommandLineParser& parser, const QList<QByteArray>& arguments,
                       QString* error)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return QByteArray();
    if (positional.size() > 1) {
        *error = QStringLiteral("brevane: ") +
                 QCoreApplication::translate("CommandLine", "one folder at most");
        return QByteArray();
    }
    // The parser hands out text, where bytes that are not UTF-8 have become
    // U+FFFD and name another folder or none: take the bytes of the argument
    // that reads as FOLDER. Only arguments that are no UTF-8 can read alike,
    // and the parser has refused any other one, as an unknown option or a
    // second FOLDER.
    const QString folder = positional.first();
    QByteArray bytes = QFile::encodeName(folder);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (QString::fromLocal8Bit(arguments[i]) == folder) {
            bytes = arguments[i];
            break;
        }
    }
    if (const int reason = folderError(bytes)) {
        *error = QStringLiteral("brevane: %1: %2").arg(folder, systemErrorText(reason));
        return QByteArray();
    }
    return absoluteCleanPath(bytes);
}
