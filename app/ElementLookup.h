#pragma once
// Which stored element the operator means when naming one on a command line: by its MAC address
// in any of the usual spellings, by the address stored for it, or by its stored name.

#include <QList>
#include <QString>

#include "database/ElementStore.h"

namespace nms {

// "00:11:22:33:44:55", "00-11-22-33-44-55", "0011.2233.4455", "001122334455", in any case, with
// blanks around it: the ElementKey it spells ("001122334455"); "" when it spells none.
QString MacTextToElementKey(const QString& text);

struct ElementMatch {
    enum class Kind { Found, NotFound, Ambiguous };
    Kind kind = Kind::NotFound;
    // The element found, or every element the text fits when it fits more than one.
    QList<ElementRecord> elements;
};

// The element `text` names among `records`. A MAC address is tried first, then a stored
// address (compared as addresses, so "10.0.0.05" is 10.0.0.5), then a name (case and the
// blanks a name is padded with ignored); the first of these that fits any element decides.
ElementMatch FindElement(const QList<ElementRecord>& records, const QString& text);

} // namespace nms
