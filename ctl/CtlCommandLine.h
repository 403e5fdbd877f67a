#pragma once
// orbilanectl's command line: global options anywhere, one command, the command's own options
// and arguments. A negative number stands as an argument ("attenuate RX -10"), not as options.

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QCommandLineParser;

namespace nms {

// The exit statuses of every command but check (which has the monitoring plugins' own).
enum CtlExit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitCannotRun = 3 };

struct CtlCommand {
    QString name;
    QString synopsis; // after the command's name: "ELEMENT [-c N]"
    QString summary; // one line, for the list of commands
    QString description; // the command's help
    QList<QCommandLineOption> options;
    int minArguments = 0;
    int maxArguments = 0;
};

// Every command, in the order the help lists them.
const QList<CtlCommand>& CtlCommands();
const CtlCommand* FindCtlCommand(const QString& name);

struct CtlArguments {
    const CtlCommand* command = nullptr;
    QStringList arguments; // the command's, in order
    QString databasePath; // as given; empty: the default place
    bool trace = false;
    bool json = false;
    int windowMs = 0; // 0: the product's periods
    std::shared_ptr<QCommandLineParser> parser; // the command's options, for isSet() and value()

    bool isSet(const QString& option) const;
    QString value(const QString& option) const;

    // Set when the program ends here: what to print, where, and with which status.
    bool finished = false;
    int exitCode = 0;
    QString output;
    bool toStandardError = false;
};

CtlArguments ParseCtlArguments(const QStringList& arguments);

// The general help, and one command's.
QString CtlHelpText();
QString CtlCommandHelpText(const CtlCommand& command);

} // namespace nms
