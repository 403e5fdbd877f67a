#include "ElementSimulator.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

void warn(const QString& message)
{
    std::fprintf(stderr, "orbilane-element-sim: %s\n", qPrintable(message));
    std::fflush(stderr);
}

// An address an element can really take: no wildcard, broadcast, loopback or multicast.
bool isUsableUnicast(quint32 ip)
{
    return ip != 0 && ip != 0xFFFFFFFFu && (ip >> 24) != 127 && (ip >> 28) < 0xE;
}

} // namespace

ElementSimulator::ElementSimulator(const SimOptions& options, const InterfaceAddress& address, DatagramLog* log,
                                   QObject* parent)
    : ElementSimulator(options, address, inSeparateNetworkNamespace(), log, parent)
{
}

ElementSimulator::ElementSimulator(const SimOptions& options, const InterfaceAddress& address, bool inNamespace,
                                   DatagramLog* log, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_attenuation(options.attenuation),
      m_prefixLength(address.prefixLength),
      m_addressFixed(address.loopback || options.keepAddress || (!options.moveHostAddress && !inNamespace)),
      m_linkOwned(!address.loopback && inNamespace),
      m_levelSamples(levelSamples(options.levelPeak)),
      m_log(log)
{
    m_config.ip = address.ip;
    m_config.mask = options.mask.value_or(maskFromPrefix(address.prefixLength));
    m_config.gateway = options.gateway;
    m_config.remote = options.remote;
    m_config.input = options.input;
    m_config.type = options.type;
    m_config.tx = options.tx;
    m_config.name = options.name;
}

ElementSimulator::~ElementSimulator()
{
    setOffNetwork(false);
}

void ElementSimulator::setOffNetwork(bool off)
{
    if (off == m_offNetwork)
        return;
    m_offNetwork = off;
    QString error;
    if (off && !m_linkOwned) {
        warn(QStringLiteral("%1 stays up (loopback, or the machine's own network namespace); only the answers stop")
                 .arg(m_options.interfaceName));
    } else if (off) {
        m_linkBeforeDown = takeInterfaceDown(m_options.interfaceName, &error);
        if (!m_linkBeforeDown)
            warn(error + QStringLiteral("; only the answers stop"));
    } else if (m_linkBeforeDown) {
        if (!bringInterfaceUp(m_options.interfaceName, *m_linkBeforeDown, &error))
            warn(error);
        m_linkBeforeDown.reset();
    }
}

bool ElementSimulator::start(QString* error)
{
    m_pagingSocket = bindPort(m_options.pagingPort, error);
    m_configSocket = m_pagingSocket ? bindPort(m_options.configPort, error) : nullptr;
    m_commandSocket = m_configSocket ? bindPort(m_options.commandPort, error) : nullptr;
    return m_commandSocket != nullptr;
}

QUdpSocket* ElementSimulator::bindPort(quint16 port, QString* error)
{
    auto* socket = new QUdpSocket(this);
    if (m_options.bindToInterface) {
        if (!bindToInterface(socket, port, error))
            return nullptr;
    } else if (!socket->bind(QHostAddress::AnyIPv4, port)) {
        *error = QStringLiteral("cannot bind UDP port %1: %2").arg(port).arg(socket->errorString());
        return nullptr;
    }
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readPending(socket); });
    return socket;
}

bool ElementSimulator::bindToInterface(QUdpSocket* socket, quint16 port, QString* error)
{
    // Many elements share one namespace and so the same ports: each binds the wildcard address
    // (the broadcast reaches only that) on its own interface, which the kernel lets several
    // sockets do with SO_REUSEADDR and delivers to the socket of the interface a datagram came in
    // on. Replies leave by that interface, from its address.
    const QByteArray device = m_options.interfaceName.toLocal8Bit();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(), socklen_t(device.size())) != 0
        || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = QStringLiteral("cannot bind UDP port %1 on %2: %3")
                     .arg(port)
                     .arg(m_options.interfaceName, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (!socket->setSocketDescriptor(fd, QAbstractSocket::BoundState, QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot use the socket of port %1: %2").arg(port).arg(socket->errorString());
        ::close(fd);
        return false;
    }
    return true;
}

void ElementSimulator::readPending(QUdpSocket* socket)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        if (!datagram.isValid())
            continue;
        m_log->incoming(socket->localPort(), datagram.senderAddress(), quint16(datagram.senderPort()), datagram.data());
        if (m_offNetwork)
            continue;
        if (socket == m_pagingSocket)
            onPaging(datagram);
        else if (socket == m_configSocket)
            onConfigWrite(datagram);
        else
            onCommand(datagram);
    }
}

void ElementSimulator::onPaging(const QNetworkDatagram& datagram)
{
    if (datagram.data() != QByteArray(kPagingRequest, kPagingRequestLength))
        return;
    answer(currentFeedback(), datagram.senderAddress());
}

void ElementSimulator::onConfigWrite(const QNetworkDatagram& datagram)
{
    const std::optional<ElementConfig> written = parseConfigWrite(datagram.data());
    if (!written)
        return;
    if (!m_options.ignoreConfigFields)
        applyConfig(*written);
    if (m_options.shortReply)
        answer(QByteArrayLiteral("ACK"), datagram.senderAddress());
    else
        answer(currentFeedback(), datagram.senderAddress());
}

void ElementSimulator::onCommand(const QNetworkDatagram& datagram)
{
    const QByteArray& bytes = datagram.data();
    if (bytes.size() == kAttenuationCommandLength)
        m_attenuation = quint8(bytes.at(0));
    else if (bytes == QByteArray(kLevelQuery))
        answer(m_silent ? levelSamples(0) : m_levelSamples, datagram.senderAddress());
}

void ElementSimulator::applyConfig(const ElementConfig& written)
{
    const quint32 oldIp = m_config.ip;
    const quint32 oldMask = m_config.mask;
    m_config = written;
    m_config.ip = oldIp;
    if (!isUsableUnicast(written.ip)) {
        warn(QStringLiteral("refusing address %1; keeping %2").arg(addressText(written.ip), addressText(oldIp)));
        return;
    }
    if (written.ip != oldIp || written.mask != oldMask)
        moveAddress(written.ip, written.mask);
}

void ElementSimulator::moveAddress(quint32 newIp, quint32 newMask)
{
    // A mask with a gap, or no mask at all, cannot be an interface prefix: keep the old one.
    const int prefix = prefixLength(newMask).value_or(0) > 0 ? *prefixLength(newMask) : m_prefixLength;
    if (m_addressFixed) {
        warn(QStringLiteral("reporting %1 without moving %2 (see --keep-address, --move-host-address)")
                 .arg(addressText(newIp), m_options.interfaceName));
        m_config.ip = newIp;
        return;
    }
    if (newIp == m_config.ip && prefix == m_prefixLength)
        return;
    QString error;
    if (!moveInterfaceAddress(m_options.interfaceName, newIp, prefix, &error)) {
        warn(QStringLiteral("moving %1 to %2/%3: %4")
                 .arg(m_options.interfaceName, addressText(newIp))
                 .arg(prefix)
                 .arg(error));
        // If the new address is on the interface, that is where the element now lives.
        QString ignored;
        const std::optional<InterfaceAddress> now = readInterfaceAddress(m_options.interfaceName, &ignored);
        if (!now || now->ip != newIp)
            return;
    }
    m_config.ip = newIp;
    m_prefixLength = prefix;
}

QByteArray ElementSimulator::currentFeedback() const
{
    FeedbackContent content;
    content.config = m_config;
    if (m_options.reportIp)
        content.config.ip = *m_options.reportIp;
    if (m_options.reportName)
        content.config.name = *m_options.reportName;
    content.role = m_options.role;
    content.serial = m_options.serial;
    content.attenuation = m_attenuation;
    content.length = m_options.effectiveFeedbackLength();
    return feedback(content);
}

void ElementSimulator::answer(const QByteArray& bytes, const QHostAddress& to)
{
    if (m_options.noAnswer)
        return;
    if (m_options.delayMs > 0)
        QTimer::singleShot(m_options.delayMs, this, [this, bytes, to] { sendNow(bytes, to); });
    else
        sendNow(bytes, to);
}

void ElementSimulator::sendNow(const QByteArray& bytes, const QHostAddress& to)
{
    if (m_offNetwork) // an answer delayed past the element's leaving
        return;
    // Logged first, so that whoever holds the answer can already read its line.
    m_log->outgoing(m_configSocket->localPort(), to, m_options.replyPort, bytes);
    if (m_configSocket->writeDatagram(bytes, to, m_options.replyPort) != bytes.size())
        warn(QStringLiteral("sending %1 bytes to %2:%3 failed: %4")
                 .arg(bytes.size())
                 .arg(to.toString())
                 .arg(m_options.replyPort)
                 .arg(m_configSocket->errorString()));
}

} // namespace sim
