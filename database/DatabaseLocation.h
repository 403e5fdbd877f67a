#pragma once
// Where the console keeps nms.ini: the file named on the command line; else beside the program
// when the program's folder is writable and not one of the system's (a portable copy, as the
// database always was); else the per-user data folder, as an installed program must.

#include <QString>

namespace nms {

// dataHome: $XDG_DATA_HOME, or ~/.local/share when that is not set.
QString ChooseDatabasePath(const QString& commandLinePath, const QString& programFolder, const QString& dataHome);

// The per-user folder of the database under dataHome.
QString UserDatabaseFolder(const QString& dataHome);

// A file the console keeps next to the database (the event log, the element history), so that
// a database named on the command line carries its companions with it.
QString FileBesideDatabase(const QString& databasePath, const QString& fileName);

} // namespace nms
