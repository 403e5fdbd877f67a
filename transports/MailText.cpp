#include "transports/MailText.h"

#include <QLocale>
#include <QRegularExpression>

namespace nms {

namespace {

constexpr int kEncodedWordBytes = 45; // 60 base64 characters: "=?UTF-8?B?" + 60 + "?=" is 72
constexpr int kQpLine = 76;
constexpr int kLongestLine = 998;

bool PrintableAscii(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

QByteArray Word(const QByteArray& utf8)
{
    return "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

// A mailbox for a header: its display name encoded when it is not ASCII.
QByteArray HeaderMailbox(const QString& mailbox)
{
    const int open = mailbox.lastIndexOf(QLatin1Char('<'));
    if (open <= 0)
        return MailAddress(mailbox).toLatin1();
    const QString name = mailbox.left(open).trimmed();
    return (PrintableAscii(name) ? name.toLatin1() : EncodedHeaderText(name)) + " <" + MailAddress(mailbox).toLatin1()
        + '>';
}

QByteArray MessageIdPart(const QString& text)
{
    QByteArray part;
    for (char c : text.toUtf8())
        part += (QChar::isLetterOrNumber(uchar(c)) && uchar(c) < 0x80) || QByteArray("!#$%&'*+-/=?^_`{|}~.").contains(c)
            ? c
            : '-';
    return part.isEmpty() ? QByteArray("x") : part;
}

} // namespace

QByteArray EncodedHeaderText(const QString& text)
{
    if (PrintableAscii(text))
        return text.toLatin1();
    QList<QByteArray> words;
    QByteArray current;
    for (int i = 0; i < text.size();) {
        // One character: a surrogate pair stays whole.
        const int length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QString c = text.mid(i, length);
        if (c.at(0).unicode() < 0x20 && c != QLatin1String("\t"))
            c = QStringLiteral(" "); // no line break can be smuggled into a header
        const QByteArray bytes = c.toUtf8();
        if (current.size() + bytes.size() > kEncodedWordBytes) {
            words.append(Word(current));
            current.clear();
        }
        current += bytes;
        i += length;
    }
    if (!current.isEmpty())
        words.append(Word(current));
    return words.join("\r\n ");
}

QByteArray QuotedPrintable(const QByteArray& text)
{
    QByteArray out;
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        QByteArray line = lines.at(n);
        if (line.endsWith('\r'))
            line.chop(1);
        int column = 0;
        for (int i = 0; i < line.size(); ++i) {
            const uchar c = uchar(line.at(i));
            const bool last = i + 1 == line.size();
            QByteArray piece;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                piece = QByteArray(1, char(c));
            else
                piece = '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
            // A soft break keeps every line within 76 characters, the "=" included.
            if (column + piece.size() > kQpLine - 1 && !(last && column + piece.size() <= kQpLine)) {
                out += "=\r\n";
                column = 0;
            }
            out += piece;
            column += piece.size();
        }
        if (n + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}

QString MailAddress(const QString& mailbox)
{
    QString address = mailbox.trimmed();
    const int open = address.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        if (!address.endsWith(QLatin1Char('>')))
            return QString();
        address = address.mid(open + 1, address.size() - open - 2).trimmed();
    }
    static const QRegularExpression kAddress(QStringLiteral("^[^@\\s<>\",;]+@[^@\\s<>\",;]+$"));
    return kAddress.match(address).hasMatch() && PrintableAscii(address) ? address : QString();
}

QByteArray MailText(const NotifyMessage& m, const QString& from, const QStringList& to)
{
    const QDateTime time = (m.time.isValid() ? m.time : QDateTime::currentDateTimeUtc()).toUTC();
    const QString fromAddress = MailAddress(from);
    const QString domain = fromAddress.mid(fromAddress.indexOf(QLatin1Char('@')) + 1);
    QList<QByteArray> recipients;
    for (const QString& mailbox : to)
        recipients.append(HeaderMailbox(mailbox));

    QByteArray text = m.text.toUtf8();
    text.replace("\r\n", "\n");
    bool plain = PrintableAscii(QString::fromUtf8(text).remove(QLatin1Char('\n')).remove(QLatin1Char('\t')));
    for (const QByteArray& line : text.split('\n'))
        plain = plain && line.size() <= kLongestLine;
    QByteArray body = plain ? text.replace("\n", "\r\n") : QuotedPrintable(text);
    if (!body.endsWith("\r\n"))
        body += "\r\n";

    QByteArray mail;
    mail +=
        "Date: " + QLocale::c().toString(time, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() + " +0000\r\n";
    mail += "From: " + HeaderMailbox(from) + "\r\n";
    mail += "To: " + recipients.join(",\r\n ") + "\r\n";
    mail += "Subject: " + EncodedHeaderText(QStringLiteral("[Orbilane] ") + m.title) + "\r\n";
    mail += "Message-ID: <" + MessageIdPart(m.id) + '@' + MessageIdPart(domain) + ">\r\n";
    mail += "MIME-Version: 1.0\r\n";
    mail += "Content-Type: text/plain; charset=UTF-8\r\n";
    mail += QByteArray("Content-Transfer-Encoding: ") + (plain ? "7bit" : "quoted-printable") + "\r\n";
    // Mail systems send no out-of-office answers to this (RFC 3834); filters can sort by these.
    mail += "Auto-Submitted: auto-generated\r\n";
    mail += "X-Orbilane-Event: " + MessageIdPart(m.event) + "\r\n";
    mail += "X-Orbilane-Status: " + MessageIdPart(m.status) + "\r\n";
    mail += "\r\n" + body;
    return mail;
}

} // namespace nms
