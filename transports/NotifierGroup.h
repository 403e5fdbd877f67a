#pragma once
// Reading one [notify.NAME] group as QSettings gives it: a comma-separated value comes as a list,
// anything else as text. The first thing wrong is kept as the reason, naming the group and key.

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace nms {

class NotifierGroup {
public:
    NotifierGroup(const QString& name, const QVariantMap& group) : name_(name), group_(group) { }

    const QString& name() const { return name_; }
    bool has(const QString& key) const;
    // A single value, trimmed; a list where one value is wanted is refused.
    QString text(const QString& key, bool required, const QString& fallback = QString());
    // A list: comma-separated in the file; blanks around each item dropped, empty items too.
    QStringList list(const QString& key, bool required);
    bool flag(const QString& key, bool fallback);
    // A positive number of seconds (fractions allowed), in milliseconds.
    int millis(const QString& key, double fallbackSeconds);
    // What the key holds must be one of `choices` (the first is the default when absent).
    QString choice(const QString& key, const QStringList& choices);

    // Refuses the group for a reason about `key`; only the first reason is kept.
    void refuse(const QString& key, const QString& reason);
    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }

private:
    QString name_;
    QVariantMap group_;
    QString error_;
};

} // namespace nms
