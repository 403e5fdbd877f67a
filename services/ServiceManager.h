#pragma once
// What a service tells the system around it: the service manager's notify protocol (ready,
// watchdog, status line) and structured entries of the journal. Narrow on purpose, so that the
// watch program is written against it and the Linux implementation stays in one place.

#include <QByteArray>
#include <QList>

namespace nms {

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // One notify message, e.g. "READY=1\nSTATUS=...". False when no manager listens.
    virtual bool notify(const QByteArray& message) = 0;
    // The watchdog period the manager asks for, in ms; 0 when it asks for none.
    virtual qint64 watchdogMs() const = 0;
    // True when the program's standard error is the journal's stream (JOURNAL_STREAM).
    virtual bool journalAttached() const = 0;
    // One journal entry of "FIELD=value" items (MESSAGE, PRIORITY and any fields of our own).
    virtual bool sendToJournal(const QList<QByteArray>& fields) = 0;
};

// systemd through libsystemd: sd_notify, sd_watchdog_enabled, sd_journal_sendv.
class SystemdServiceManager final : public ServiceManager {
public:
    SystemdServiceManager();
    bool notify(const QByteArray& message) override;
    qint64 watchdogMs() const override { return watchdogMs_; }
    bool journalAttached() const override { return journal_; }
    bool sendToJournal(const QList<QByteArray>& fields) override;

private:
    qint64 watchdogMs_ = 0;
    bool journal_ = false;
};

// Journal priorities (syslog's levels).
enum class JournalPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

} // namespace nms
