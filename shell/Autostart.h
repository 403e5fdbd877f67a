#pragma once
// "Start with the desktop session": an XDG autostart entry in the user's configuration folder
// that starts the console hidden in the notification area at login, so a studio PC that stays
// logged in watches from then on.

#include <QByteArray>
#include <QString>

namespace nms {

// $XDG_CONFIG_HOME/autostart/example.kestrion.orbilane_nms.desktop
QString AutostartPath();
bool AutostartEnabled();
// The entry, Exec= naming `program` (the bare name when it is the one on PATH) with --hidden.
QByteArray AutostartEntry(const QString& program);
// Writes (on) or removes (off) the entry; false with the reason when it could not be done.
bool SetAutostart(bool on, const QString& program, QString* error);

} // namespace nms
