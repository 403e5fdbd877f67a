#pragma once
// A message as an Internet mail (RFC 5322 with MIME): headers and a plain text UTF-8 body, lines
// ending in CRLF, ready for SMTP. Pure functions, so that what a mail says is tested without a
// server.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "transports/NotifyMessage.h"

namespace nms {

// A header's text: as it is when it is printable ASCII, else RFC 2047 encoded words (UTF-8,
// base64), each at most 75 characters, folded onto continuation lines; a character is never split.
QByteArray EncodedHeaderText(const QString& text);

// Quoted-printable (RFC 2045) of UTF-8 text whose lines end in LF: lines at most 76 characters,
// CRLF line ends, a blank before a line end encoded.
QByteArray QuotedPrintable(const QByteArray& text);

// "someone@example.org" out of "Someone <someone@example.org>" or the bare address; empty when
// it is not an address (no @, blanks, angle brackets or line breaks inside it).
QString MailAddress(const QString& mailbox);

// The mail of a message from `from` to `to` (mailboxes as written in the settings): Date (the
// message's time), From, To, Subject "[Orbilane] " + title, Message-ID from the message's id,
// MIME-Version, Content-Type text/plain; charset=UTF-8, and 7bit when the text is short ASCII
// lines, quoted-printable otherwise.
QByteArray MailText(const NotifyMessage& message, const QString& from, const QStringList& to);

} // namespace nms
