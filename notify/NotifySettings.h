#pragma once
// The notifiers a user configured: one group [notify.NAME] each in the monitor's settings file.
// The keys every notifier has (type, events, elements, batch_ms, repeat_minutes, flap_changes,
// flap_minutes) are read here; the whole group goes on to the transport of its type.

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "database/ElementStore.h"

namespace nms {

// The events a notifier may send, in the order the README lists them.
const QStringList& NotifyEventNames();
// element-down and silence: the alarms that last until a recovery.
bool IsLastingAlarm(const QString& event);
// element-up and audio-back: the end of a lasting alarm.
bool IsRecovery(const QString& event);
// The alarm a recovery ends (element-up: element-down, audio-back: silence), else empty.
QString AlarmRecovered(const QString& recovery);

struct NotifierRules {
    QString name; // NAME of [notify.NAME]
    QString type;
    QStringList events = {QStringLiteral("element-down"), QStringLiteral("element-up"), QStringLiteral("silence"),
                          QStringLiteral("audio-back")};
    QStringList elements; // names, MACs or addresses; empty: every element
    int batchMs = 1000; // alarms within this long make one message
    qint64 repeatMs = 0; // a reminder this often while an alarm lasts unacknowledged; 0: never
    int flapChanges = 6; // more changes than this within flapWindowMs is flapping
    qint64 flapWindowMs = 10 * 60 * 1000;
    QVariantMap group; // every key of the group, type included, for the transport

    bool wants(const QString& event) const { return events.contains(event); }
    // Whether the element is one of `elements` (by name, case and padding ignored, by MAC in any
    // of its spellings, or by address), or `elements` is empty.
    bool concerns(const ElementRecord& record) const;
};

struct NotifySettings {
    QList<NotifierRules> notifiers; // the usable groups, in the file's order
    // "[notify.NAME] reason" for each group not used; the transports' own refusals come later.
    QStringList refused;
    // Set when no notifier at all is used: the file holds a password others can read.
    QString fileRefused;

    // The [notify.*] groups of the settings file at `path`; a missing file has none.
    static NotifySettings Load(const QString& path);
};

} // namespace nms
