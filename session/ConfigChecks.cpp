#include "session/ConfigChecks.h"

#include <QtEndian>

#include "base/AddressText.h"
#include "database/ElementRecords.h"

namespace nms {

QString SaveRefusal(bool elementSelected, const ConfigFields& fields, bool databaseExists)
{
    if (!elementSelected)
        return QStringLiteral("No Network Element selected!");
    if (fields.input < 0 || fields.type < 0 || fields.tx < 0)
        return QStringLiteral("Please verify that all audio fields are correct!");
    if (fields.name.isEmpty())
        return QStringLiteral("Please verify that the name field is correct!");
    for (const QString* address : {&fields.ip, &fields.mask, &fields.gw, &fields.remote}) {
        if (!IsDottedQuad(*address))
            return QStringLiteral("Please verify that all IP fields are correct!");
    }
    if (!databaseExists)
        return QStringLiteral("The local database in your computer, is corrupted!");
    return QString();
}

namespace {

// The address in host order; ok false for anything IsDottedQuad refuses.
quint32 HostOrder(const QString& text, bool* ok)
{
    return qFromBigEndian(Ipv4FromDottedText(text, ok));
}

QString Dotted(quint32 hostOrder)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(hostOrder >> 24)
        .arg((hostOrder >> 16) & 0xFF)
        .arg((hostOrder >> 8) & 0xFF)
        .arg(hostOrder & 0xFF);
}

int PrefixLength(quint32 mask)
{
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length)))
        ++length;
    return length;
}

} // namespace

QStringList AddressFindings(const ConfigFields& fields, const ElementRecord& shown, bool encoder,
                            const QList<ElementRecord>& stored)
{
    QStringList findings;
    bool ipOk = false, maskOk = false, gwOk = false, remoteOk = false;
    const quint32 ip = HostOrder(fields.ip, &ipOk);
    const quint32 mask = HostOrder(fields.mask, &maskOk);
    const quint32 gw = HostOrder(fields.gw, &gwOk);
    const quint32 remote = HostOrder(fields.remote, &remoteOk);
    bool shownOk = false;
    const quint32 before = HostOrder(shown.ip, &shownOk);

    if (ipOk && !(shownOk && before == ip)) {
        for (const ElementRecord& other : stored) {
            bool otherOk = false;
            if (other.key != shown.key && HostOrder(other.ip, &otherOk) == ip && otherOk)
                findings.append(QStringLiteral("%1 is the address of %2 [%3].")
                                    .arg(Dotted(ip), other.name.trimmed(), KeyToMacText(other.key)));
        }
    }

    const bool contiguous = maskOk && (~mask & (~mask + 1)) == 0;
    if (maskOk && !contiguous)
        findings.append(QStringLiteral("The mask %1 is not a run of ones.").arg(Dotted(mask)));
    else if (maskOk && mask == 0)
        findings.append(QStringLiteral("The mask 0.0.0.0 makes every address local."));
    else if (maskOk && mask == 0xFFFFFFFFu)
        findings.append(QStringLiteral("The mask 255.255.255.255 leaves the element alone on its network."));

    const bool subnetUsable = ipOk && contiguous && mask != 0 && mask != 0xFFFFFFFFu;
    if (subnetUsable) {
        const quint32 network = ip & mask;
        const QString subnet = QStringLiteral("%1/%2").arg(Dotted(network)).arg(PrefixLength(mask));
        // A /31 has no network or broadcast address (RFC 3021).
        if (PrefixLength(mask) < 31) {
            if (ip == network)
                findings.append(QStringLiteral("%1 is the network address of %2.").arg(Dotted(ip), subnet));
            else if (ip == (network | ~mask))
                findings.append(QStringLiteral("%1 is the broadcast address of %2.").arg(Dotted(ip), subnet));
        }
        if (gwOk && gw != 0 && (gw & mask) != network)
            findings.append(QStringLiteral("The gateway %1 is outside %2.").arg(Dotted(gw), subnet));
    }

    // TX position 0 is Unicast: the encoder sends its audio to the remote address.
    if (encoder && fields.tx == 0 && ipOk && remoteOk && remote == ip)
        findings.append(QStringLiteral("The remote address %1 is the encoder's own address.").arg(Dotted(ip)));
    return findings;
}

} // namespace nms
