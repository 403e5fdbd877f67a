#include "shell/CommandLine.h"

#include <QCommandLineParser>

#include "shell/FrmMain.h"

namespace nms {

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Network management console for an MPX-over-IP studio-to-transmitter link: finds the\n"
                       "link's Network Elements, keeps them in nms.ini, probes them, sends their configuration."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("Keep the element database in this file instead of the default "
                                                     "(beside the program when its folder is writable, else "
                                                     "$XDG_DATA_HOME/orbilane-nms/nms.ini)."),
                                      QStringLiteral("path"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Write every datagram sent and received, every database write "
                                                  "and every notice to standard error."));
    const QCommandLineOption hidden(QStringLiteral("hidden"),
                                    QStringLiteral("Start in the notification area without showing the window (the "
                                                   "desktop session's autostart entry uses it)."));
    parser.addOptions({help, version, database, trace, hidden});

    CommandLine result;
    auto finish = [&result](int code, const QString& text, bool toError) {
        result.finished = true;
        result.exitCode = code;
        result.output = text;
        result.toStandardError = toError;
        return result;
    };
    if (!parser.parse(arguments))
        return finish(2, parser.errorText() + QLatin1Char('\n') + parser.helpText(), true);
    if (!parser.positionalArguments().isEmpty())
        return finish(2,
                      QStringLiteral("Unexpected argument '%1'.\n").arg(parser.positionalArguments().first())
                          + parser.helpText(),
                      true);
    if (parser.isSet(help))
        return finish(0, parser.helpText(), false);
    if (parser.isSet(version))
        return finish(0, QStringLiteral("orbilane-nms %1\n").arg(VersionText()), false);
    result.databasePath = parser.value(database);
    result.trace = parser.isSet(trace);
    result.hidden = parser.isSet(hidden);
    return result;
}

} // namespace nms
