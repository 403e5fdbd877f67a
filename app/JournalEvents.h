#pragma once
// The event log's lines as journal entries: one entry per event, its priority by what it means
// (down and silence are errors, recoveries notices, the rest information), a fixed MESSAGE_ID
// per kind of event so that `journalctl MESSAGE_ID=...` finds every one, and the element's MAC,
// address and name in fields of their own.

#include <QByteArray>
#include <QList>
#include <QString>

namespace nms {

// The 128-bit id of an event kind, 32 lower-case hex digits; empty for a kind without one.
QByteArray EventMessageId(const QString& event);

// MESSAGE, PRIORITY, MESSAGE_ID (when the kind has one), ORBILANE_EVENT and, where the event
// concerns an element, ORBILANE_MAC, ORBILANE_IP, ORBILANE_NAME, as "FIELD=value" items. A line
// that is no event object gives nothing.
QList<QByteArray> JournalEntry(const QByteArray& eventLine);

} // namespace nms
