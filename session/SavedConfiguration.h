#pragma once
// One element's configuration as a small JSON file the operator keeps: saved from the element's
// stored record, loaded to give a spare unit the configuration of the one it replaces.
//
//   {"format": "orbilane-nms-configuration", "version": 1, "saved": "2026-12-08T01:13:00.000Z",
//    "program": "2.0.1", "name": "STUDIO TX", "mac": "00:11:22:33:44:55", "role": "encoder",
//    "serial": "42", "ip": "10.0.0.5", "mask": "255.255.255.0", "gateway": "10.0.0.1",
//    "remote": "10.0.0.9", "input": "digital", "type": "mpx", "tx": "unicast",
//    "attenuation": 235}                                       (attenuation: decoders only)

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

#include "database/ElementStore.h"

namespace nms {

struct SavedConfiguration {
    ElementRecord record; // key from the MAC; every value as the database stores it
    QDateTime saved;
    QString program;
};

QByteArray ConfigurationToJson(const ElementRecord& record, const QDateTime& saved, const QString& program);
// Nothing, with `error` saying what is wrong, for anything that is not such a configuration.
std::optional<SavedConfiguration> ConfigurationFromJson(const QByteArray& bytes, QString* error);

// Written whole or not at all. False with the reason.
bool SaveConfigurationFile(const QString& path, const ElementRecord& record, const QString& program, QString* error);
std::optional<SavedConfiguration> LoadConfigurationFile(const QString& path, QString* error);

} // namespace nms
