#pragma once
// The checks a configuration passes before it may be sent, with the operator's messages, in the
// order the editor has always made them.

#include <QList>
#include <QString>
#include <QStringList>

#include "database/ElementStore.h"
#include "link/Datagrams.h"

namespace nms {

// The first reason the configuration cannot be saved ("" when there is none). A selector of -1
// is no choice; the remote address is checked even where the editor hides it, since the element
// receives it anyway; the answer is stored, so the database must exist.
QString SaveRefusal(bool elementSelected, const ConfigFields& fields, bool databaseExists);

// What the address guard finds in a configuration that passed the checks above, before it is
// sent to the element `shown` (its record as stored): an address stored for another element of
// `stored`, a mask that is no run of ones or leaves no network, an address that is its subnet's
// network or broadcast address, a gateway outside the subnet, an encoder sending to itself. One
// sentence each; none when all is well. Whether the address answers on the network is asked
// separately.
QStringList AddressFindings(const ConfigFields& fields, const ElementRecord& shown, bool encoder,
                            const QList<ElementRecord>& stored);

} // namespace nms
