#pragma once
// A unit swap without retyping: the configurations the console keeps of the elements it has seen
// (or one read from a file), offered for the element shown, and what the editor shows of the one
// chosen. Nothing here sends or stores: the editor's save does, with its checks.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "database/ElementHistory.h"
#include "database/ElementStore.h"
#include "link/Datagrams.h"
#include "session/ConsoleState.h"

namespace nms {

struct KeptConfiguration {
    ElementRecord record;
    QDateTime lastSeen;
    bool inDatabase = false; // its section is still in nms.ini
};

// The history's entries marked by whether their key is among `databaseKeys`, the one seen last
// first (ties by key, so the order never depends on how the history was read).
QList<KeptConfiguration> KeptConfigurations(const QList<HistoryEntry>& history, const QStringList& databaseKeys);
// "STUDIO TX [00:11:22:33:44:55]", with " (not in the database)" for one that is gone from it.
QString KeptConfigurationCaption(const KeptConfiguration& kept);

// What the editor of an element of role `shown` fills from a kept record: the configuration the
// ConfigWrite carries, and the attenuation only where a decoder's goes to a decoder (an encoder
// has none, and a foreign or out-of-range value moves nothing).
struct ConfigurationFill {
    ConfigFields fields;
    std::optional<int> attenuation;
};
ConfigurationFill FillFromRecord(const ElementRecord& kept, ElementRole shown);

// The question asked before a configuration of another role is applied to the element shown;
// nothing when the roles are the same.
std::optional<QString> RoleMismatchQuestion(const ElementRecord& kept, ElementRole shown);

// The file name offered when an element's configuration is saved: "STUDIO_TX_00-11-22-33-44-55.json".
QString ConfigurationFileName(const ElementRecord& record);

} // namespace nms
