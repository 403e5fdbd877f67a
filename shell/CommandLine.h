#pragma once
// The console's command line: --help, --version, --database PATH, --trace, --hidden. Read before any window
// exists, so --help and --version work without a display.

#include <QString>
#include <QStringList>

namespace nms {

struct CommandLine {
    QString databasePath; // empty: the default place
    bool trace = false;
    bool hidden = false; // start in the notification area, the window not shown
    // Set when the program ends here: what to print, where, and with which status.
    bool finished = false;
    int exitCode = 0;
    QString output;
    bool toStandardError = false;
};

CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace nms
