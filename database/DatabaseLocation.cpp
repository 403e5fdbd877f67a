#include "database/DatabaseLocation.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include "database/ElementRecords.h"

namespace nms {

QString UserDatabaseFolder(const QString& dataHome)
{
    return QDir(dataHome).filePath(QStringLiteral("orbilane-nms"));
}

QString ChooseDatabasePath(const QString& commandLinePath, const QString& programFolder, const QString& dataHome)
{
    if (!commandLinePath.isEmpty())
        return QFileInfo(commandLinePath).absoluteFilePath();
    // access() asks the kernel, which also knows read-only mounts and access lists.
    if (::access(QFile::encodeName(programFolder).constData(), W_OK) == 0)
        return QDir(programFolder).filePath(DatabaseFileName());
    return QDir(UserDatabaseFolder(dataHome)).filePath(DatabaseFileName());
}

} // namespace nms
