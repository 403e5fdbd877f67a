#include "shell/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace nms {

namespace {
const QString kDesktopId = QStringLiteral("example.kestrion.orbilane_nms.desktop");
}

QString AutostartPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
        + kDesktopId;
}

bool AutostartEnabled()
{
    return QFileInfo::exists(AutostartPath());
}

QByteArray AutostartEntry(const QString& program)
{
    // The bare name when PATH finds this very program (an installed console); else its path,
    // quoted as the desktop entry specification quotes an argument.
    const QString found = QStandardPaths::findExecutable(QFileInfo(program).fileName());
    QString exec = QFileInfo(program).fileName();
    if (found.isEmpty() || QFileInfo(found).canonicalFilePath() != QFileInfo(program).canonicalFilePath()) {
        exec = program;
        if (exec.contains(QRegularExpression(QStringLiteral("[\\s\"'\\\\$`<>~|&;*?#()]")))) {
            exec.replace(QLatin1Char('\\'), QStringLiteral("\\\\\\\\"));
            for (const char c : {'"', '`', '$'})
                exec.replace(QLatin1Char(c), QStringLiteral("\\\\") + QLatin1Char(c));
            exec = QLatin1Char('"') + exec + QLatin1Char('"');
        }
    }
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Orbilane NMS\n"
                             "Comment=Watch the link's elements from the notification area\n")
        + "Exec=" + exec.toUtf8() + " --hidden\n"
        + QByteArrayLiteral("Icon=example.kestrion.orbilane_nms\n"
                            "Terminal=false\n"
                            "NoDisplay=true\n"
                            "X-GNOME-Autostart-enabled=true\n");
}

bool SetAutostart(bool on, const QString& program, QString* error)
{
    const QString path = AutostartPath();
    if (!on) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        *error = file.errorString();
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("the folder %1 could not be made").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(AutostartEntry(program)) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace nms
