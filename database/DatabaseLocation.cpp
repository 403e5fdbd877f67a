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
    // An installed program keeps its data with the user even when run by one who may write to
    // the system's folders (root must not leave nms.ini in /usr/bin). access() asks the kernel,
    // which also knows read-only mounts and access lists.
    const QString folder = QFileInfo(programFolder).canonicalFilePath();
    const bool installed = folder.startsWith(QLatin1String("/usr/")) || folder == QLatin1String("/bin")
        || folder == QLatin1String("/sbin");
    if (!installed && ::access(QFile::encodeName(programFolder).constData(), W_OK) == 0)
        return QDir(programFolder).filePath(DatabaseFileName());
    return QDir(UserDatabaseFolder(dataHome)).filePath(DatabaseFileName());
}

QString FileBesideDatabase(const QString& databasePath, const QString& fileName)
{
    return QDir(QFileInfo(databasePath).absolutePath()).filePath(fileName);
}

} // namespace nms
