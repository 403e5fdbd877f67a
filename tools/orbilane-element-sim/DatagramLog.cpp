#include "DatagramLog.h"

#include <QDateTime>

#include <cstdio>

namespace sim {

bool DatagramLog::open(const QString& path, QString* error)
{
    if (path.isEmpty())
        return true;
    const bool opened = path == QLatin1String("-")
        ? m_file.open(stdout, QIODevice::WriteOnly | QIODevice::Text)
        : (m_file.setFileName(path), m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text));
    if (!opened && error)
        *error = QStringLiteral("cannot open the log %1: %2").arg(path, m_file.errorString());
    return opened;
}

void DatagramLog::incoming(quint16 localPort, const QHostAddress& peer, quint16 peerPort, const QByteArray& bytes)
{
    write("IN", localPort, peer, peerPort, bytes);
}

void DatagramLog::outgoing(quint16 localPort, const QHostAddress& peer, quint16 peerPort, const QByteArray& bytes)
{
    write("OUT", localPort, peer, peerPort, bytes);
}

void DatagramLog::write(const char* direction, quint16 localPort, const QHostAddress& peer, quint16 peerPort,
                        const QByteArray& bytes)
{
    if (!m_file.isOpen())
        return;
    const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLatin1() + ' ' + direction + ' '
        + QByteArray::number(localPort) + ' ' + peer.toString().toLatin1() + ':' + QByteArray::number(peerPort) + ' '
        + QByteArray::number(bytes.size()) + ' ' + bytes.toHex(' ') + '\n';
    m_file.write(line);
    m_file.flush();
}

} // namespace sim
