#include "database/ElementRecords.h"

namespace nms {

namespace {

// Upper case letter by letter: a letter whose capital is two letters (the sharp s) keeps its
// own spelling, so the result keeps its length and its pairs stay where they are.
QString UpperKeepingLength(const QString& text)
{
    QString upper = text;
    for (QChar& c : upper)
        c = c.toUpper();
    return upper;
}

} // namespace

QString KeyToMacText(const QString& key)
{
    if (key.size() != 12)
        return QString();
    QString text;
    text.reserve(17);
    for (int i = 0; i < 12; i += 2) {
        if (i > 0)
            text += QLatin1Char(':');
        text += UpperKeepingLength(key.mid(i, 2));
    }
    return text;
}

QString MacTextToKey(const QString& macText)
{
    if (macText.size() != 17)
        return QString();
    QString key = macText;
    key.remove(QLatin1Char(':'));
    return UpperKeepingLength(key);
}

QString DatabaseFileName()
{
    return QStringLiteral("nms.ini");
}

QString StoredRoleWord(const QString& stored)
{
    bool ok = false;
    const int value = stored.toInt(&ok);
    if (ok && value == 1)
        return QStringLiteral("encoder");
    if (ok && value == 2)
        return QStringLiteral("decoder");
    return QStringLiteral("unknown");
}

} // namespace nms
