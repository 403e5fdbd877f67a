#pragma once
// One message to one notifier: what happened, to which elements, and the words for it. The
// notifiers' rules make it, the outbox keeps it until it is delivered, and each transport turns
// it into its own kind of message (a mail, a POST, a command's input, a trap).

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace nms {

struct NotifyElement {
    QString name; // without the blanks a stored name is padded with
    QString mac; // "00:11:22:33:44:55"
    QString ip;
    QString role; // "encoder", "decoder" or "unknown"
    bool operator==(const NotifyElement&) const = default;
};

struct NotifyMessage {
    QString id; // unique and kept across restarts: the outbox's key, the mail's Message-ID
    QString notifier; // NAME of the settings group [notify.NAME]
    QString status; // "firing", "resolved" (a recovery) or "test"
    // element-down, element-up, silence, audio-back, element-missing, config-refused,
    // config-timeout; "flapping"; "test"
    QString event;
    bool reminder = false; // the same alarm again while it lasts
    QDateTime time; // when it happened, UTC
    QDateTime since; // when the state began; invalid: not known
    qint64 durationS = -1; // how long the alarm lasted (a recovery) or has lasted (a reminder); -1: none
    QList<NotifyElement> elements; // one, or several when alarms were collapsed into one message
    QString title; // one line: "DOWN: SITE RX 10.0.0.6", "37 elements down"
    QString text; // plain text, lines joined by "\n"

    bool operator==(const NotifyMessage&) const = default;

    // The webhook's schema: status, event, element {name, mac, ip, role} (the first), time,
    // since, duration_s, text, and count with elements when there are several; plus id,
    // notifier, reminder and title.
    QJsonObject toJson() const;
    // What toJson wrote; nothing when it is not such an object.
    static std::optional<NotifyMessage> FromJson(const QJsonObject& object);
};

} // namespace nms
