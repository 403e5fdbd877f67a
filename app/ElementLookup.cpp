#include "app/ElementLookup.h"

#include <QRegularExpression>

#include <functional>

#include "base/AddressText.h"

namespace nms {

namespace {

QString WithoutTrailingBlanks(QString text)
{
    while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\t' || text.back() == u'\0'))
        text.chop(1);
    return text;
}

ElementMatch Matches(const QList<ElementRecord>& records, const std::function<bool(const ElementRecord&)>& fits)
{
    ElementMatch match;
    for (const ElementRecord& record : records) {
        if (fits(record))
            match.elements.append(record);
    }
    if (match.elements.size() == 1)
        match.kind = ElementMatch::Kind::Found;
    else if (match.elements.size() > 1)
        match.kind = ElementMatch::Kind::Ambiguous;
    return match;
}

} // namespace

QString MacTextToElementKey(const QString& text)
{
    // Six pairs split by ":" or "-", three groups of four split by ".", or twelve digits.
    static const QRegularExpression forms(
        QStringLiteral("^(?:[0-9A-Fa-f]{2}([:-])[0-9A-Fa-f]{2}(?:\\1[0-9A-Fa-f]{2}){4}"
                       "|[0-9A-Fa-f]{4}\\.[0-9A-Fa-f]{4}\\.[0-9A-Fa-f]{4}"
                       "|[0-9A-Fa-f]{12})$"));
    const QString trimmed = text.trimmed();
    if (!forms.match(trimmed).hasMatch())
        return QString();
    QString key = trimmed.toUpper();
    key.remove(QRegularExpression(QStringLiteral("[:.-]")));
    return key;
}

ElementMatch FindElement(const QList<ElementRecord>& records, const QString& text)
{
    const QString key = MacTextToElementKey(text);
    if (!key.isEmpty()) {
        ElementMatch match =
            Matches(records, [&key](const ElementRecord& record) { return record.key.toUpper() == key; });
        if (match.kind != ElementMatch::Kind::NotFound)
            return match;
    }
    bool isAddress = false;
    const quint32 address = Ipv4FromDottedText(text, &isAddress);
    if (isAddress) {
        ElementMatch match = Matches(records, [address](const ElementRecord& record) {
            bool ok = false;
            return Ipv4FromDottedText(record.ip, &ok) == address && ok;
        });
        if (match.kind != ElementMatch::Kind::NotFound)
            return match;
    }
    const QString name = WithoutTrailingBlanks(text.trimmed());
    if (name.isEmpty())
        return {};
    return Matches(records, [&name](const ElementRecord& record) {
        return WithoutTrailingBlanks(record.name).compare(name, Qt::CaseInsensitive) == 0;
    });
}

} // namespace nms
