#pragma once
// The element database over the profile file: a whole element record read in one parse, an
// element's entries written in one atomic rewrite, many elements in one rewrite, the list of
// elements with their names from one read, and the emptying a discovery starts with.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "database/ProfileFile.h"

namespace nms {

// One element's section as stored: every value as the store's reads give it ("" when missing).
struct ElementRecord {
    QString key;
    QString name, ip, mask, gw, remote, input, type, tx, role, sn, att;
    // The entries of the section as the section-content read counts them (more than eleven
    // marks it as damaged).
    int entryCount = 0;
};

class ElementStore {
public:
    explicit ElementStore(QString path) : path_(std::move(path)) { }

    const QString& path() const { return path_; }
    bool exists() const;

    // The keys in file order with the name stored in each, from one read of the file.
    struct Listing {
        bool fileExists = false;
        QStringList keys;
        QStringList names;
    };
    Listing list() const;

    ElementRecord read(const QString& key) const;
    // Every listed element's record, in file order, from one read per entry key (entryCount is
    // left 0: a damaged section shows only as its values).
    QList<ElementRecord> readAll() const;
    QString storedIp(const QString& key) const;

    // Each is one atomic rewrite; false leaves the file as it was.
    bool write(const QString& key, const ProfileFile::Entries& entries);
    // The section holds these entries only afterwards, in its old place if it had one.
    bool replace(const QString& key, const ProfileFile::Entries& entries);
    bool writeMany(const QList<ProfileFile::SectionEntries>& sections);
    bool remove(const QString& key);

    // What the file held before a discovery emptied it, so that a discovery that could not page
    // anything can put it back byte for byte.
    struct Snapshot {
        bool existed = false;
        QByteArray bytes;
    };
    // Deletes the file and creates it again empty. False with the reason when it could not.
    bool recreateEmpty(Snapshot* previous, QString* error);
    bool restore(const Snapshot& previous, QString* error);

private:
    QString path_;
};

} // namespace nms
