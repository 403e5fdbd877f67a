#pragma once
// A console window for widget and end-to-end tests: a private database folder, scripted message
// boxes, a fake neighbour table and no tray icon. By default every port is a free loopback port
// and a LoopbackElement stands in for the network; with productPorts the window uses the real
// ports and the limited broadcast (for tests inside a network namespace of their own).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <memory>

#include "shell/FrmMain.h"
#include "support/FakeNeighbourTable.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TempDir.h"

class QUdpSocket;

namespace nms::test {

// One simulated element on 127.0.0.1: a socket for each element port (configuration, commands,
// paging), each on a free port of its own. It records every datagram the console sends it and
// answers from its configuration socket.
class LoopbackElement : public QObject {
    Q_OBJECT
public:
    struct Received {
        quint16 toPort;
        quint16 fromPort;
        QByteArray data;
    };

    explicit LoopbackElement(QObject* parent = nullptr);

    quint16 configPort() const;
    quint16 commandPort() const;
    quint16 pagingPort() const;

    // Sends one datagram to the console's port on loopback.
    bool sendToConsole(const QByteArray& datagram, quint16 consolePort);

    QList<Received> received;
    QList<QByteArray> receivedOn(quint16 port) const;

Q_SIGNALS:
    void datagramReceived();

private:
    QUdpSocket* open();
    void drain(QUdpSocket* socket);

    QUdpSocket* config_;
    QUdpSocket* command_;
    QUdpSocket* paging_;
};

struct ConsoleOptions {
    bool productPorts = false; // 2976/2977/1901 and 255.255.255.255, no LoopbackElement
    NeighbourTable* neighbours = nullptr; // default: the fixture's FakeNeighbourTable
    EchoService* echo = nullptr; // default: none (the probe then shows a failure)
    QString databasePath; // default: nms.ini in a private folder
    QString pagingAddress; // default: 127.0.0.1 (or the broadcast with productPorts)
};

// The entries of one stored element, written in the order a discovery writes them.
struct StoredElement {
    QString name = QStringLiteral("STUDIO A        ");
    QString ip = QStringLiteral("127.0.0.1");
    QString mask = QStringLiteral("255.255.255.0");
    QString gw = QStringLiteral("127.0.0.254");
    QString remote = QStringLiteral("10.0.0.2");
    int input = 0, type = 1, tx = 0, role = 1, sn = 42;
    int att = -1; // written only when 0 or more
    QList<QPair<QString, QString>> entries() const;
};

// An ElementFeedback as an element sends it, built here byte by byte (independently of the
// console's own codec). Fields out of range are sent as given, to test the checks.
struct FeedbackFields {
    QString ip = QStringLiteral("192.168.1.10");
    QString mask = QStringLiteral("255.255.255.0");
    QString gw = QStringLiteral("192.168.1.1");
    QString remote = QStringLiteral("10.0.0.1");
    int input = 0, type = 1, tx = 0;
    QByteArray name = QByteArrayLiteral("STUDIO A        "); // 16 bytes
    int role = 1;
    QByteArray serial = QByteArray::fromHex("0000002A"); // 4 bytes: serial 42
    int attenuation = -1; // appended as byte 40 when 0 or more
    QByteArray bytes() const;
};

class ConsoleFixture {
public:
    explicit ConsoleFixture(const ConsoleOptions& options = {});
    ~ConsoleFixture();
    ConsoleFixture(const ConsoleFixture&) = delete;
    ConsoleFixture& operator=(const ConsoleFixture&) = delete;

    // The window's start-up (without the single-instance test). False when the port was taken.
    bool load();

    FrmMain& w() const { return *window_; }
    FrmMain* operator->() const { return window_.get(); }
    QString database() const { return environment_.databasePath; }
    quint16 consolePort() const { return environment_.localPort; }
    const ConsoleEnvironment& environment() const { return environment_; }

    bool writeElement(const QString& key, const StoredElement& element);
    // Rebuilds the list from the database and picks the element's entry as the operator would.
    bool select(const QString& key);

    ScriptedMessageBoxes boxes;
    FakeNeighbourTable neighbours;
    LoopbackElement* element = nullptr; // null with productPorts

    // A UDP port nothing on this host uses right now.
    static quint16 FreeUdpPort();

private:
    TempDir dir_;
    ConsoleEnvironment environment_;
    std::unique_ptr<LoopbackElement> elementOwner_;
    std::unique_ptr<FrmMain> window_;
};

} // namespace nms::test
