#include "support/FakeNeighbourTable.h"

#include "base/AddressText.h"

namespace nms::test {

namespace {

quint32 AddressOf(const QString& text)
{
    bool ok = false;
    return Ipv4FromDottedText(text, &ok);
}

} // namespace

QByteArray MacBytes(const QString& macText)
{
    return QByteArray::fromHex(macText.toLatin1().replace(':', "").replace('-', ""));
}

void FakeNeighbourTable::add(const QString& address, const QByteArray& mac)
{
    entries_.insert(AddressOf(address), Entry {mac, false, false, 0});
}

void FakeNeighbourTable::addOnSolicit(const QString& address, const QByteArray& mac, int lookupsAfterSolicit)
{
    entries_.insert(AddressOf(address), Entry {mac, true, false, lookupsAfterSolicit});
}

void FakeNeighbourTable::remove(const QString& address)
{
    entries_.remove(AddressOf(address));
}

QByteArray FakeNeighbourTable::lookup(quint32 address)
{
    ++lookups_;
    auto it = entries_.find(address);
    if (it == entries_.end())
        return {};
    if (it->needsSolicit) {
        if (!it->solicited)
            return {};
        if (it->missesLeft > 0) {
            --it->missesLeft;
            return {};
        }
    }
    return it->mac;
}

void FakeNeighbourTable::solicit(quint32 address)
{
    solicited_.append(address);
    auto it = entries_.find(address);
    if (it != entries_.end())
        it->solicited = true;
}

QHash<quint32, QByteArray> FakeNeighbourTable::lookupMany(const QList<quint32>& addresses)
{
    ++reads_;
    return NeighbourTable::lookupMany(addresses);
}

int FakeNeighbourTable::solicitsOf(const QString& address) const
{
    return int(solicited_.count(AddressOf(address)));
}

bool FakeNeighbourTable::wasSolicited(const QString& address) const
{
    return solicited_.contains(AddressOf(address));
}

} // namespace nms::test
