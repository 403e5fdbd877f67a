#include "services/Trace.h"

#include "link/Datagrams.h"

namespace nms {

// Debug lines only, so every category is silent until the trace is switched on.
Q_LOGGING_CATEGORY(traceLink, "orbilane.link", QtInfoMsg)
Q_LOGGING_CATEGORY(traceDiscovery, "orbilane.discovery", QtInfoMsg)
Q_LOGGING_CATEGORY(traceStore, "orbilane.store", QtInfoMsg)
Q_LOGGING_CATEGORY(traceProbe, "orbilane.probe", QtInfoMsg)
Q_LOGGING_CATEGORY(traceNotices, "orbilane.notices", QtInfoMsg)

void EnableTrace()
{
    QLoggingCategory::setFilterRules(QStringLiteral("orbilane.*.debug=true"));
}

namespace {

QString KindOf(bool sent, const QByteArray& datagram)
{
    if (sent) {
        if (datagram == PagingRequest())
            return QStringLiteral("PagingRequest");
        if (datagram == LevelQuery())
            return QStringLiteral("LevelQuery");
        switch (datagram.size()) {
        case ConfigWriteLength: return QStringLiteral("ConfigWrite");
        case AttenuationCommandLength: return QStringLiteral("AttenuationCommand");
        default: return QStringLiteral("datagram");
        }
    }
    switch (ClassifyDatagram(datagram.size())) {
    case DatagramKind::LevelSamples: return QStringLiteral("LevelSamples");
    case DatagramKind::ShortReply: return QStringLiteral("ShortReply");
    case DatagramKind::Feedback: return QStringLiteral("ElementFeedback");
    case DatagramKind::Dropped: break;
    }
    return QStringLiteral("dropped");
}

} // namespace

QString DatagramTraceLine(bool sent, const QHostAddress& peer, quint16 port, const QByteArray& datagram,
                          int interfaceIndex)
{
    constexpr int leading = 48;
    QString line = QStringLiteral("%1 %2:%3 %4 %5 bytes")
                       .arg(sent ? QStringLiteral("sent to") : QStringLiteral("received from"), peer.toString())
                       .arg(port)
                       .arg(KindOf(sent, datagram))
                       .arg(datagram.size());
    if (interfaceIndex > 0)
        line += QStringLiteral(" on interface %1").arg(interfaceIndex);
    line += QLatin1String(": ") + QString::fromLatin1(datagram.left(leading).toHex(' '));
    if (datagram.size() > leading)
        line += QStringLiteral(" ...");
    return line;
}

} // namespace nms
