#pragma once
// The address guard before a configuration is sent: what the configuration itself shows
// (AddressFindings), and whether its new address already answers on the network, by ICMP echo
// or ARP, within a second; a neighbour entry the kernel held before that second is no answer by
// itself. The window stays responsive meanwhile.

#include <QObject>
#include <QStringList>

#include <optional>

#include "database/ElementStore.h"
#include "link/Datagrams.h"

class QTimer;

namespace nms {

class EchoSweep;
class NeighbourTable;

class AddressGuard : public QObject {
    Q_OBJECT
public:
    AddressGuard(EchoSweep& echo, NeighbourTable& neighbours, int waitMs = 1000, QObject* parent = nullptr);

    // The findings at once when the network has nothing to be asked (the address stays the same,
    // or is stored for another element already); else nothing, and finished() after the network
    // had its second.
    std::optional<QStringList> check(const ConfigFields& fields, const ElementRecord& shown, bool encoder,
                                     const QList<ElementRecord>& stored);
    bool running() const;

Q_SIGNALS:
    void finished(const QStringList& findings);

private:
    void done();

    EchoSweep& echo_;
    NeighbourTable& neighbours_;
    QTimer* wait_;
    QStringList findings_;
    quint32 asked_ = 0; // network order; 0: nothing asked of the network
    QByteArray cached_; // the neighbour entry of asked_ before it was asked
    bool answered_ = false;
};

} // namespace nms
