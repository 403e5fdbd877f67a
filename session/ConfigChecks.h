#pragma once
// The checks a configuration passes before it may be sent, with the operator's messages, in the
// order the editor has always made them.

#include <QString>

#include "link/Datagrams.h"

namespace nms {

// The first reason the configuration cannot be saved ("" when there is none). A selector of -1
// is no choice; the remote address is checked even where the editor hides it, since the element
// receives it anyway; the answer is stored, so the database must exist.
QString SaveRefusal(bool elementSelected, const ConfigFields& fields, bool databaseExists);

} // namespace nms
