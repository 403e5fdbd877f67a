#pragma once
// A neighbour table the test fills: addresses known from the start, addresses that only resolve
// once the console has asked the kernel to resolve them, and addresses that never resolve.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include "services/NeighbourTable.h"

namespace nms::test {

// "02:00:00:00:01:0A" -> its six bytes.
QByteArray MacBytes(const QString& macText);

class FakeNeighbourTable final : public NeighbourTable {
public:
    // Known at once.
    void add(const QString& address, const QByteArray& mac);
    // Unknown until solicited; known from the lookup after `lookupsAfterSolicit` further misses.
    void addOnSolicit(const QString& address, const QByteArray& mac, int lookupsAfterSolicit = 0);
    void remove(const QString& address);

    QByteArray lookup(quint32 address) override;
    void solicit(quint32 address) override;
    // Counted as one read of the table, however many addresses it asks for.
    QHash<quint32, QByteArray> lookupMany(const QList<quint32>& addresses) override;

    int lookups() const { return lookups_; }
    int reads() const { return reads_; }
    int solicits() const { return solicited_.size(); }
    int solicitsOf(const QString& address) const;
    bool wasSolicited(const QString& address) const;

private:
    struct Entry {
        QByteArray mac;
        bool needsSolicit = false;
        bool solicited = false;
        int missesLeft = 0;
    };
    QHash<quint32, Entry> entries_;
    QList<quint32> solicited_;
    int lookups_ = 0;
    int reads_ = 0;
};

} // namespace nms::test
