#include "database/ElementRecords.h"

namespace nms {

QString KeyToMacText(const QString& key)
{
    if (key.size() != 12)
        return QString();
    QString text;
    text.reserve(17);
    for (int i = 0; i < 12; i += 2) {
        if (i > 0)
            text += QLatin1Char(':');
        text += key.mid(i, 2).toUpper();
    }
    return text;
}

QString MacTextToKey(const QString& macText)
{
    if (macText.size() != 17)
        return QString();
    QString key = macText;
    key.remove(QLatin1Char(':'));
    return key.toUpper();
}

QString DatabaseFileName()
{
    return QStringLiteral("nms.ini");
}

} // namespace nms
