#include "session/ConfigChecks.h"

#include "base/AddressText.h"

namespace nms {

QString SaveRefusal(bool elementSelected, const ConfigFields& fields, bool databaseExists)
{
    if (!elementSelected)
        return QStringLiteral("No Network Element selected!");
    if (fields.input < 0 || fields.type < 0 || fields.tx < 0)
        return QStringLiteral("Please verify that all audio fields are correct!");
    if (fields.name.isEmpty())
        return QStringLiteral("Please verify that the name field is correct!");
    for (const QString* address : {&fields.ip, &fields.mask, &fields.gw, &fields.remote}) {
        if (!IsDottedQuad(*address))
            return QStringLiteral("Please verify that all IP fields are correct!");
    }
    if (!databaseExists)
        return QStringLiteral("The local database in your computer, is corrupted!");
    return QString();
}

} // namespace nms
