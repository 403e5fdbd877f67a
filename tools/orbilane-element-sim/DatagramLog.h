#pragma once
// One line per datagram in and out, flushed at once so that a test can read the file while
// the simulator runs (an answer's line is written just before it is sent):
//   2024-05-01T10:00:00.123 IN 1901 10.77.0.1:2976 32 44 49 5a ...
//   <ISO time with ms> <IN|OUT> <local port> <peer address>:<peer port> <length> <hex bytes>

#include <QFile>
#include <QHostAddress>
#include <QString>

namespace sim {

class DatagramLog {
public:
    // `path` empty: log nothing; "-": standard output.
    bool open(const QString& path, QString* error);

    void incoming(quint16 localPort, const QHostAddress& peer, quint16 peerPort, const QByteArray& bytes);
    void outgoing(quint16 localPort, const QHostAddress& peer, quint16 peerPort, const QByteArray& bytes);

private:
    void write(const char* direction, quint16 localPort, const QHostAddress& peer, quint16 peerPort,
               const QByteArray& bytes);

    QFile m_file;
};

} // namespace sim
