#include "base/AddressText.h"

#include <QtEndian>

namespace nms {

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QStringList SplitDotted(const QString& text)
{
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char('.'));
}

bool DottedPartToByte(const QString& part, quint8* value)
{
    qsizetype b = 0, e = part.size();
    while (b < e && IsBlank(part[b]))
        ++b;
    while (e > b && IsBlank(part[e - 1]))
        --e;
    if (b == e)
        return false;
    int number = 0;
    for (qsizetype i = b; i < e; ++i) {
        const char16_t c = part[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + (c - u'0');
        if (number > 255)
            return false;
    }
    if (value)
        *value = quint8(number);
    return true;
}

bool IsDottedQuad(const QString& text)
{
    const QStringList parts = SplitDotted(text);
    for (const QString& part : parts) {
        if (!DottedPartToByte(part, nullptr))
            return false;
    }
    return parts.size() == 4;
}

quint32 Ipv4FromDottedText(const QString& text, bool* ok)
{
    const QStringList parts = SplitDotted(text);
    bool good = parts.size() == 4;
    quint32 hostOrder = 0;
    for (qsizetype i = 0; good && i < parts.size(); ++i) {
        quint8 value = 0;
        good = DottedPartToByte(parts.at(i), &value);
        hostOrder = (hostOrder << 8) | value;
    }
    if (ok)
        *ok = good;
    return good ? qToBigEndian(hostOrder) : 0xFFFFFFFFu;
}

QString AddressBytesToText(const quint8* four)
{
    QString text;
    text.reserve(15);
    for (int k = 0; k < 4; ++k) {
        if (k > 0)
            text.append(u'.');
        text.append(QString::number(int(four[k])));
    }
    return text;
}

} // namespace nms
