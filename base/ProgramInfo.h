#pragma once
// The program's name and version, as every part of it shows them.

#include <QString>

namespace nms {

// The title of boxes that have none of their own: "Orbilane NMS".
QString ProgramTitle();
// The version the build was made as: "2.0.1".
QString VersionText();

} // namespace nms
