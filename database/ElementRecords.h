#pragma once
// The element records kept in nms.ini: one section per element, named by its ElementKey (the 12
// upper-case hexadecimal digits of its MAC address), with the entries below.

#include <QString>

namespace nms {

// "00A0C9F81E24" -> "00:A0:C9:F8:1E:24"; any 12 characters are grouped in pairs, else "".
QString KeyToMacText(const QString& key);
// A stored role as a word: "encoder" (1), "decoder" (2), "unknown" for any other number or text.
QString StoredRoleWord(const QString& stored);
// "00:a0:c9:f8:1e:24" -> "00A0C9F81E24"; any 17 characters lose their ":" and are upper-cased, else "".
QString MacTextToKey(const QString& macText);
// The database's file name in the program's folder.
QString DatabaseFileName();

// Keys of an element's section as passed to the store (the file holds them upper-cased).
namespace ElementKeys {
inline constexpr auto name = "name", ip = "ip", mask = "mask", gw = "gw", remote = "remote", input = "input",
                      type = "type", tx = "tx", role = "role", sn = "sn", att = "att";
} // namespace ElementKeys

// A sound section holds at most these many entries; more mark it as damaged.
constexpr int MaxSoundSectionEntries = 11;

} // namespace nms
