#include "ctl/CtlCommandLine.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include "base/ProgramInfo.h"

namespace nms {

namespace {

// Qt names the program by the path it was started with; the help names it as it is installed.
QString HelpText(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    const qsizetype end = text.indexOf(QStringLiteral(" [options]"));
    if (text.startsWith(QStringLiteral("Usage: ")) && end > 0)
        text.replace(7, end - 7, QStringLiteral("orbilanectl"));
    return text;
}

// Put before a negative number so that the parser takes it as an argument; taken off after.
const QString kNumberMark = QStringLiteral("\x1f");

QCommandLineOption Option(const QStringList& names, const QString& description, const QString& valueName = {})
{
    return QCommandLineOption(names, description, valueName);
}

QList<QCommandLineOption> GlobalOptions()
{
    QCommandLineOption window(QStringLiteral("window-ms"),
                              QStringLiteral("Test hook: every wait for an element's answer lasts this long."),
                              QStringLiteral("ms"));
    window.setFlags(QCommandLineOption::HiddenFromHelp);
    return {
        Option({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")),
        Option({QStringLiteral("version")}, QStringLiteral("Show the version.")),
        Option({QStringLiteral("database")},
               QStringLiteral("The element database to use instead of the console's (beside the program when its "
                              "folder is writable, else $XDG_DATA_HOME/orbilane-nms/nms.ini)."),
               QStringLiteral("path")),
        Option({QStringLiteral("trace")},
               QStringLiteral("Write every datagram sent and received, every database write and every notice to "
                              "standard error.")),
        Option({QStringLiteral("json")}, QStringLiteral("Print what the command found as one JSON document.")),
        window,
    };
}

QList<CtlCommand> MakeCommands()
{
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Print comma-separated values with a header row."));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Send even when the address guard finds something."));
    const QString guarded =
        QStringLiteral(" Before anything is sent, the address guard looks at the addresses: one stored for another "
                       "element, a mask, network, broadcast or gateway that cannot work, an encoder sending to "
                       "itself, and a new address that already answers on the network (ICMP echo or ARP within a "
                       "second). Each finding is said and nothing is sent, unless --force is given.");
    return {
        {QStringLiteral("discover"),
         QStringLiteral("[--no-store] [--csv]"),
         QStringLiteral("Page every attached network and list the elements that answer."),
         QStringLiteral("Pages every attached network as the console's Auto Discover does, waits the discovery "
                        "window and lists the elements that answered, new or missing against the database. The "
                        "database is rebuilt from the answers, as the console rebuilds it."),
         {Option({QStringLiteral("no-store")}, QStringLiteral("Leave the database exactly as it is.")), csv},
         0,
         0},
        {QStringLiteral("list"),
         QStringLiteral("[--csv]"),
         QStringLiteral("List the stored elements."),
         QStringLiteral("Lists the elements of the database: name, MAC, IP address, role and serial number."),
         {csv},
         0,
         0},
        {QStringLiteral("show"),
         QStringLiteral("ELEMENT"),
         QStringLiteral("Show the stored record of one element."),
         QStringLiteral("Shows every field stored for ELEMENT by its meaning.\n"
                        "ELEMENT is a MAC address (00:11:22:33:44:55, 00-11-22-33-44-55, 001122334455), the "
                        "stored IP address or the stored name."),
         {},
         1,
         1},
        {QStringLiteral("ping"),
         QStringLiteral("ELEMENT [-c N] [-i S]"),
         QStringLiteral("Send ICMP echo requests to an element's stored address."),
         QStringLiteral("Sends ICMP echo requests to the address stored for ELEMENT and prints each round trip."),
         {Option({QStringLiteral("c"), QStringLiteral("count")}, QStringLiteral("Requests to send (default 4)."),
                 QStringLiteral("n")),
          Option({QStringLiteral("i"), QStringLiteral("interval")},
                 QStringLiteral("Seconds between two requests (default 1)."), QStringLiteral("s"))},
         1,
         1},
        {QStringLiteral("level"),
         QStringLiteral("ELEMENT [--seconds S]"),
         QStringLiteral("Print an encoder's audio level once a second."),
         QStringLiteral("Asks the encoder for its level 20 times a second and prints the peak of each second in "
                        "dBFS, until interrupted or S seconds have passed."),
         {Option({QStringLiteral("seconds")}, QStringLiteral("Stop after this many seconds."), QStringLiteral("s"))},
         1,
         1},
        {QStringLiteral("set"),
         QStringLiteral("ELEMENT [--name T] [--ip A] [--mask A] [--gateway A] [--remote A] "
                        "[--input digital|analog] [--type lr|mpx] [--tx unicast|multicast]"),
         QStringLiteral("Change an element's configuration."),
         QStringLiteral("Sends the stored configuration of ELEMENT with the fields given changed, waits for the "
                        "element's answer and stores only what it confirmed. Prints the confirmed and the "
                        "refused fields.")
             + guarded,
         {Option({QStringLiteral("name")}, QStringLiteral("Name (up to 16 characters)."), QStringLiteral("text")),
          Option({QStringLiteral("ip")}, QStringLiteral("IP address."), QStringLiteral("address")),
          Option({QStringLiteral("mask")}, QStringLiteral("Subnet mask."), QStringLiteral("address")),
          Option({QStringLiteral("gateway")}, QStringLiteral("Gateway."), QStringLiteral("address")),
          Option({QStringLiteral("remote")}, QStringLiteral("Remote IP address (where an encoder sends its audio)."),
                 QStringLiteral("address")),
          Option({QStringLiteral("input")}, QStringLiteral("Audio input: digital or analog."), QStringLiteral("input")),
          Option({QStringLiteral("type")}, QStringLiteral("Audio type: lr (left/right) or mpx."),
                 QStringLiteral("type")),
          Option({QStringLiteral("tx")}, QStringLiteral("Audio transmission: unicast or multicast."),
                 QStringLiteral("tx")),
          force},
         1,
         1},
        {QStringLiteral("attenuate"),
         QStringLiteral("ELEMENT DB|mute"),
         QStringLiteral("Set a decoder's output attenuation."),
         QStringLiteral("Sends the output attenuation to the decoder and stores it: 0 to -120 dB in steps of "
                        "0.5 dB (-10 is a value here, not an option), or mute."),
         {},
         2,
         2},
        {QStringLiteral("save-config"),
         QStringLiteral("ELEMENT FILE"),
         QStringLiteral("Save an element's stored configuration to a file."),
         QStringLiteral("Writes the configuration stored for ELEMENT to FILE as a small JSON document, for "
                        "apply-config to give to another unit later."),
         {},
         2,
         2},
        {QStringLiteral("apply-config"),
         QStringLiteral("ELEMENT FILE|MAC [--force]"),
         QStringLiteral("Give an element a saved configuration, or a vanished unit's."),
         QStringLiteral("Sends ELEMENT the configuration in FILE (written by save-config), or the one kept in "
                        "the history for the element with that MAC address (any element ever discovered, such "
                        "as a unit that has been replaced): name, addresses and audio settings, and for a "
                        "decoder its attenuation once the rest is confirmed. ELEMENT keeps its own MAC address "
                        "and serial number. An existing file is read as a file. Waits for the element's answer, "
                        "stores only what it confirmed and prints the confirmed and the refused fields. A "
                        "configuration of the other role is refused as well.")
             + guarded,
         {Option({QStringLiteral("force")},
                 QStringLiteral("Send even when the address guard finds something or the configuration is of "
                                "the other role."))},
         2,
         2},
        {QStringLiteral("export"),
         QStringLiteral("[--csv|--json] [FILE]"),
         QStringLiteral("Export the database."),
         QStringLiteral("Writes every stored element, each field by its meaning, as CSV (the default) or JSON, "
                        "to FILE or standard output."),
         {csv},
         0,
         1},
        {QStringLiteral("monitor"),
         QStringLiteral("[--for S]"),
         QStringLiteral("Watch every stored element and print each event."),
         QStringLiteral("Watches every stored element as the console does (echo, and the audio of every encoder, "
                        "with the settings of $XDG_CONFIG_HOME/orbilane-nms/orbilane-nms.conf) and prints each "
                        "event as one JSON line, as the event log holds it, until interrupted or S seconds "
                        "have passed. The alarms go through the notifiers of the same file ([notify.NAME] "
                        "groups), as the console sends them."),
         {Option({QStringLiteral("for")}, QStringLiteral("Stop after this many seconds."), QStringLiteral("s"))},
         0,
         0},
        {QStringLiteral("history"),
         QStringLiteral("ELEMENT [--since DURATION] [--csv|--json]"),
         QStringLiteral("Print an element's history of round trips, audio and states."),
         QStringLiteral("Prints the rows the monitor kept for ELEMENT (the console's or 'orbilanectl monitor'), "
                        "one a minute: round trip min, median and max, pings lost, an encoder's peak min and max "
                        "(\"silence\" for digital silence), and the seconds down, silent and up. Minute rows "
                        "are kept 30 days; asked for longer, hourly rows (kept a year). ELEMENT may also be the "
                        "MAC address of an element no longer stored."),
         {Option({QStringLiteral("since")}, QStringLiteral("How far back: 90m, 2h, 30d, 1w, or seconds (default 24h)."),
                 QStringLiteral("duration")),
          csv},
         1,
         1},
        {QStringLiteral("check"),
         QStringLiteral("ELEMENT [-w MS] [-c MS] [--silence-dbfs X] [--no-audio]"),
         QStringLiteral("Check one element for a monitoring system."),
         QStringLiteral("Checks ELEMENT as a monitoring plugin: its echo round trip, its answer to a paging "
                        "request against the stored record and, for an encoder, its audio. Prints one line and "
                        "exits 0 OK, 1 WARNING, 2 CRITICAL or 3 UNKNOWN."),
         {Option({QStringLiteral("w"), QStringLiteral("warning")},
                 QStringLiteral("Round trip above which the element is WARNING (default 50)."), QStringLiteral("ms")),
          Option({QStringLiteral("c"), QStringLiteral("critical")},
                 QStringLiteral("Round trip above which the element is CRITICAL (default 200)."), QStringLiteral("ms")),
          Option({QStringLiteral("silence-dbfs")},
                 QStringLiteral("An encoder whose peak stays below this is silent: CRITICAL (default -50)."),
                 QStringLiteral("dbfs")),
          Option({QStringLiteral("no-audio")}, QStringLiteral("Do not check an encoder's audio."))},
         1,
         1},
        {QStringLiteral("ack"),
         QStringLiteral("ELEMENT [--comment TEXT]"),
         QStringLiteral("Acknowledge an element's alarm: no more reminders."),
         QStringLiteral("Acknowledges the alarm of ELEMENT (down or silent): the notifiers send no more reminders "
                        "of it, and the acknowledgement ends when the element recovers. Kept in alarms.json "
                        "beside the database, where a running console picks it up within seconds, and logged "
                        "with the comment and the login name."),
         {Option({QStringLiteral("comment")}, QStringLiteral("Why, for the event log."), QStringLiteral("text"))},
         1,
         1},
        {QStringLiteral("maintenance"),
         QStringLiteral("ELEMENT --for DURATION | --end [--comment TEXT]"),
         QStringLiteral("Put an element in maintenance, or end it."),
         QStringLiteral("Puts ELEMENT in maintenance for DURATION (30m, 2h, 1d; s, m, h or d after a whole "
                        "number), or ends its maintenance: while it lasts the element's events are logged (marked "
                        "\"maintenance\": true) but no notifier sends anything about it and the console raises "
                        "no alarm. Kept in alarms.json beside the database and logged."),
         {Option({QStringLiteral("for")}, QStringLiteral("How long: 30m, 2h, 1d."), QStringLiteral("duration")),
          Option({QStringLiteral("end")}, QStringLiteral("End the maintenance now.")),
          Option({QStringLiteral("comment")}, QStringLiteral("Why, for the event log."), QStringLiteral("text"))},
         1,
         1},
        {QStringLiteral("notify-test"),
         QStringLiteral("[NAME]"),
         QStringLiteral("Send a test message through each notifier."),
         QStringLiteral("Sends one test message through every notifier of the settings file "
                        "($XDG_CONFIG_HOME/orbilane-nms/orbilane-nms.conf, groups [notify.NAME]), or the one named, "
                        "waits for each outcome and prints it. Exit status 0 when every one was delivered, 1 "
                        "otherwise (a group refused counts as not delivered)."),
         {},
         0,
         1},
    };
}

bool IsNegativeNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^-[0-9]+([.,][0-9]+)?(dB|db)?$"));
    return number.match(text).hasMatch();
}

bool TakesValue(const QString& token, const QList<QCommandLineOption>& options)
{
    QString name;
    if (token.startsWith(QStringLiteral("--")))
        name = token.mid(2);
    else if (token.size() == 2 && token.startsWith(u'-'))
        name = token.mid(1);
    if (name.isEmpty() || name.contains(u'='))
        return false;
    for (const QCommandLineOption& option : options) {
        if (option.names().contains(name))
            return !option.valueName().isEmpty();
    }
    return false;
}

CtlArguments Finish(int code, const QString& text, bool toError)
{
    CtlArguments result;
    result.finished = true;
    result.exitCode = code;
    result.output = text.endsWith(u'\n') ? text : text + u'\n';
    result.toStandardError = toError;
    return result;
}

CtlArguments UsageError(const QString& text, const CtlCommand* command)
{
    const QString hint = command ? QStringLiteral("Try 'orbilanectl help %1'.").arg(command->name)
                                 : QStringLiteral("Try 'orbilanectl --help'.");
    return Finish(ExitUsage, QStringLiteral("orbilanectl: ") + text + u'\n' + hint, true);
}

QString VersionLine()
{
    return QStringLiteral("orbilanectl %1\n").arg(VersionText());
}

} // namespace

const QList<CtlCommand>& CtlCommands()
{
    static const QList<CtlCommand> commands = MakeCommands();
    return commands;
}

const CtlCommand* FindCtlCommand(const QString& name)
{
    for (const CtlCommand& command : CtlCommands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

bool CtlArguments::isSet(const QString& option) const
{
    return parser && parser->isSet(option);
}

QString CtlArguments::value(const QString& option) const
{
    return parser ? parser->value(option) : QString();
}

QString CtlHelpText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The Orbilane NMS console's work from a shell, on the console's own core: discovery, the "
                       "element database, echo, levels, configuration, attenuation, monitoring, and a check "
                       "for monitoring systems."));
    parser.addOptions(GlobalOptions());
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands below."),
                                 QStringLiteral("COMMAND [ARGUMENTS]"));
    QString text = HelpText(parser);
    text += QStringLiteral("\nCommands:\n");
    for (const CtlCommand& command : CtlCommands())
        text += QStringLiteral("  %1%2\n").arg(command.name.leftJustified(14), command.summary);
    text += QStringLiteral(
        "\nGlobal options go before or after the command. 'orbilanectl help COMMAND' describes a command.\n"
        "Exit status: 0 success, 1 the element refused, did not answer or was not found, or the address\n"
        "guard found something, 2 usage error, 3 cannot run (port 2976 in use, database unreadable);\n"
        "check: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n");
    return text;
}

QString CtlCommandHelpText(const CtlCommand& command)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(command.description);
    parser.addOptions(command.options);
    parser.addOptions(GlobalOptions());
    parser.addPositionalArgument(command.name, command.summary, command.name + u' ' + command.synopsis);
    return HelpText(parser);
}

CtlArguments ParseCtlArguments(const QStringList& arguments)
{
    const QList<QCommandLineOption> globals = GlobalOptions();
    QStringList rest = arguments.mid(1);

    // The command is the first word that is neither an option nor a global option's value.
    qsizetype at = -1;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QString& token = rest.at(i);
        if (token.startsWith(u'-') && token.size() > 1 && !IsNegativeNumber(token)) {
            if (TakesValue(token, globals))
                ++i;
            continue;
        }
        at = i;
        break;
    }
    const CtlCommand* command = nullptr;
    bool helpCommand = false;
    if (at >= 0) {
        const QString name = rest.takeAt(at);
        helpCommand = name == QStringLiteral("help");
        command = FindCtlCommand(name);
        if (!command && !helpCommand)
            return UsageError(QStringLiteral("Unknown command '%1'.").arg(name), nullptr);
    }

    QList<QCommandLineOption> options = globals;
    if (command)
        options += command->options;
    // A negative number is an argument unless it is the value of the option before it.
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (IsNegativeNumber(rest.at(i)) && !(i > 0 && TakesValue(rest.at(i - 1), options)))
            rest[i].prepend(kNumberMark);
    }

    auto parser = std::make_shared<QCommandLineParser>();
    parser->addOptions(options);
    if (!parser->parse(QStringList {arguments.value(0)} + rest))
        return UsageError(parser->errorText(), command);
    QStringList positional = parser->positionalArguments();
    for (QString& argument : positional) {
        if (argument.startsWith(kNumberMark))
            argument.remove(0, kNumberMark.size());
    }

    if (parser->isSet(QStringLiteral("version")))
        return Finish(ExitOk, VersionLine(), false);
    if (helpCommand) {
        if (positional.isEmpty())
            return Finish(ExitOk, CtlHelpText(), false);
        const CtlCommand* described = FindCtlCommand(positional.first());
        if (!described || positional.size() > 1)
            return UsageError(QStringLiteral("No command '%1' to describe.").arg(positional.join(u' ')), nullptr);
        return Finish(ExitOk, CtlCommandHelpText(*described), false);
    }
    if (parser->isSet(QStringLiteral("help")))
        return Finish(ExitOk, command ? CtlCommandHelpText(*command) : CtlHelpText(), false);
    if (!command)
        return UsageError(QStringLiteral("No command given."), nullptr);
    if (positional.size() < command->minArguments)
        return UsageError(QStringLiteral("'%1' needs %2.").arg(command->name, command->synopsis.section(u' ', 0, 0)),
                          command);
    if (positional.size() > command->maxArguments)
        return UsageError(QStringLiteral("Unexpected argument '%1'.").arg(positional.at(command->maxArguments)),
                          command);

    CtlArguments result;
    result.command = command;
    result.arguments = positional;
    result.databasePath = parser->value(QStringLiteral("database"));
    result.trace = parser->isSet(QStringLiteral("trace"));
    result.json = parser->isSet(QStringLiteral("json"));
    if (parser->isSet(QStringLiteral("window-ms"))) {
        bool ok = false;
        result.windowMs = parser->value(QStringLiteral("window-ms")).toInt(&ok);
        if (!ok || result.windowMs < 1)
            return UsageError(QStringLiteral("--window-ms takes a number of milliseconds."), command);
    }
    result.parser = std::move(parser);
    return result;
}

} // namespace nms
