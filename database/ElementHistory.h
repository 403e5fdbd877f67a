#pragma once
// The last record of every element the console has ever seen, kept beside the database in a
// file of its own (history.json, never in nms.ini): a discovery rebuilds nms.ini from the
// elements that answer, and a unit that was away keeps its configuration here.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

#include "base/Notices.h"
#include "database/ElementStore.h"

namespace nms {

struct HistoryEntry {
    ElementRecord record; // entryCount is not kept: 0
    QDateTime lastSeen;
};

class ElementHistory {
public:
    ElementHistory(QString path, Notices& notices);

    // <folder of databasePath>/history.json
    static QString PathBeside(const QString& databasePath);

    const QString& path() const { return path_; }

    // Records these elements as seen at `seen`, each replacing what was kept of it. One atomic
    // write per call; false (and a notice, once until a write succeeds) when it failed. An
    // invalid `seen` writes nothing and gives false.
    bool remember(const QList<ElementRecord>& records, const QDateTime& seen);
    // Keeps the records of elements not known yet, as seen at `seen`, and never replaces a known
    // one: what a database held before a discovery rebuilds it.
    bool rememberUnknown(const QList<ElementRecord>& records, const QDateTime& seen);

    // Every element ever seen, the one seen last first.
    QList<HistoryEntry> entries() const;
    std::optional<HistoryEntry> find(const QString& key) const;

private:
    enum class Merge { Replace, KeepKnown };
    bool store(const QList<ElementRecord>& records, const QDateTime& seen, Merge merge);
    // Reads the file again when it changed since the last read.
    void load() const;
    bool failed(const QString& reason);

    QString path_;
    Notices& notices_;
    bool failureReported_ = false;

    // What tells one version of the file from another: every write replaces the file (a new
    // inode), and an edit in place changes its time to the nanosecond or its size.
    struct Stamp {
        bool exists = false;
        quint64 inode = 0;
        qint64 size = 0, modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp StampOf(const QString& path);

    // The file as last read or written, and its stamp then.
    mutable QHash<QString, HistoryEntry> entries_;
    mutable std::optional<Stamp> stamp_;
    // The file as read could not be used: it is copied aside before it is replaced.
    mutable bool damaged_ = false;
};

} // namespace nms
