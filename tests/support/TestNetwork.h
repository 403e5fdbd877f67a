#pragma once
// End-to-end tests on a real LAN in network namespaces: real sockets, real broadcast, real
// kernel ARP, with simulated Network Elements (tools/orbilane-element-sim).
//
//     NMS_E2E_MAIN(TstSomething)          // skips (exit 77) when namespaces are unavailable
//
//     void TstSomething::initTestCase() {
//         net_ = new nms::test::TestNetwork(2, this);
//         QVERIFY2(net_->up(), qPrintable(net_->errorString()));
//         QVERIFY(net_->enterConsoleNamespace());     // before any socket is made
//     }
//     void TstSomething::paging() {
//         QVERIFY(net_->startSimulator(1, {"--role", "decoder", "--serial", "42"}));
//         ... console code under test binds 2976, broadcasts, reads the answer ...
//         QCOMPARE(net_->datagrams(1).first().localPort, 1901);
//     }
//
// Layout made by scripts/testnet-up.sh (the console at .1, element i at .(10+i)):
//     console  <name>-c   10.77.0.1    02:00:00:00:00:01
//     element  <name>-ei  10.77.0.1i   02:00:00:00:01:0i   (i in hex)
// Every host has an on-link default route, so the limited broadcast 255.255.255.255 works.
// TestNetwork::Options asks for the other layouts of that script: every element of the first
// LAN on one shared host (macvlans ev1..evN, up to 2000), a second LAN behind the console's eth1
// (elements numbered after the first LAN's), no default route anywhere or one via eth1 only.
//
// The network's name is made from the process id ("t12345"), so runs never collide. The
// destructor stops every simulator it started (by PID), returns the thread to its own
// namespace and runs scripts/testnet-down.sh. Networks left by a run that crashed are
// removed by the next up() once their process is gone.
//
// Paths: scripts from $NMS_SOURCE_DIR/scripts, the simulator from
// $NMS_BINARY_DIR/tools/orbilane-element-sim (CTest sets both). Set NMS_E2E_KEEP_LOGS=1 to keep
// the simulator logs; their folder is printed at the end.

#include <QCoreApplication>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define NMS_E2E_APPLICATION QApplication
#else
#define NMS_E2E_APPLICATION QCoreApplication
#endif
#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

class QProcess;

namespace nms::test {

// One line of a simulator log: a datagram the element received (IN) or sent (OUT).
struct LoggedDatagram {
    QDateTime time;
    bool incoming = false;
    quint16 localPort = 0; // the element's port: 1901, 2976 or 2977
    QHostAddress peer; // sender of an IN, destination of an OUT
    quint16 peerPort = 0;
    QByteArray bytes;

    int length() const { return int(bytes.size()); }
};

// Parses the text of a simulator log; lines that are not datagram lines are skipped.
QList<LoggedDatagram> parseSimulatorLog(const QString& text);

class TestNetwork : public QObject {
    Q_OBJECT
public:
    enum class DefaultRoute { Eth0, Eth1, None };
    struct Options {
        int elements = 1; // first LAN: 1-99 hosts of their own, or 1-2000 on the shared host
        bool sharedHost = false;
        int secondLanElements = 0; // 0, or 1-99 hosts behind the console's eth1
        DefaultRoute defaultRoute = DefaultRoute::Eth0; // the console's; None: no host has one
    };
    struct Interface {
        QString name;
        QString ip;
        QString mac;
    };

    // True when this process can build a namespace LAN: it runs as root and `ip netns`
    // can really create a namespace. Otherwise false, with a sentence saying why.
    static bool available(QString* reason = nullptr);

    // A network of one console host and `elementCount` element hosts (1-99). Nothing is
    // built until up().
    explicit TestNetwork(int elementCount, QObject* parent = nullptr);
    explicit TestNetwork(const Options& options, QObject* parent = nullptr);
    ~TestNetwork() override;

    // A network that testnet-up.sh NAME built for someone else (a benchmark started in its
    // console namespace), from the facts it keeps in /run/orbilane-testnet. Up at once; its
    // simulators are stopped at the end, the network is left as it is. nullptr if there is none.
    static std::unique_ptr<TestNetwork> attach(const QString& name, QString* error = nullptr);

    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;

    // Runs testnet-up.sh; false (see errorString()) if it failed or was skipped.
    bool up();
    bool isUp() const { return up_; }
    QString errorString() const { return error_; }
    QString name() const { return name_; }
    // Every element, of both LANs.
    int elementCount() const { return int(elements_.size()); }
    bool sharedHost() const { return options_.sharedHost; }

    QString consoleNamespace() const { return console_.ns; }
    QString consoleIp() const { return console_.ip; }
    QString consoleMac() const { return console_.mac; }
    // eth0, and eth1 with a second LAN.
    QList<Interface> consoleInterfaces() const { return consoleInterfaces_; }
    // Elements are numbered from 1: the first LAN's, then the second LAN's.
    QString elementNamespace(int i) const;
    QString elementIp(int i) const;
    QString elementMac(int i) const; // "02:00:00:00:01:01", lower-case hex as `ip` shows it
    QString elementInterface(int i) const; // eth0, or evI on the shared host
    int elementLan(int i) const; // 1 (the console's eth0) or 2 (eth1); 0 for no such element

    // The console's neighbour table at the start of a discovery, for benchmarks. Both put a
    // permanent entry for the console on every element interface, so that no element asks for
    // the console's MAC before it answers (the console's kernel would learn the element's from
    // that request). Cold: the console's table is emptied, the console has to resolve every
    // element itself. Warm: it already holds every element's MAC (REACHABLE, STALE after half
    // a minute, usable either way). False (see errorString()) if `ip` refused.
    bool makeNeighboursCold();
    bool makeNeighboursWarm();

    // Moves the calling thread into the console's namespace (setns on /run/netns/<name>-c).
    // Call it from the test's main thread before any socket is made: sockets belong to the
    // namespace of the thread that creates them. The destructor moves the thread back.
    bool enterConsoleNamespace();
    bool leaveConsoleNamespace();

    // Starts the simulator in element i's namespace with `arguments` plus a --log file of
    // its own, and waits (up to 5 s) for its READY line. Returns the running process, owned
    // by this object and deleted when that simulator is stopped or restarted, or nullptr (see
    // errorString(), which gives the exit code of a simulator that refused its options). A
    // simulator already running for i is stopped first. Its standard error goes to the test's
    // output. It also ends should the test process die without running the destructor.
    QProcess* startSimulator(int i, const QStringList& arguments = {});
    QProcess* simulator(int i) const;
    // The one simulator that plays every element of the shared host (--elements N --interface
    // ev plus `arguments`), started and awaited like startSimulator(); startSimulator(i) refuses
    // those elements. Its log holds the datagrams of all of them.
    QProcess* startSharedHostSimulator(const QStringList& arguments = {});
    QList<LoggedDatagram> sharedHostDatagrams() const;
    // Ends the simulator of element i (0: the shared host's; SIGTERM, then SIGKILL after 3 s);
    // true if it was running.
    bool stopSimulator(int i);
    void stopAllSimulators();
    // Waits up to 5 s for the line `line` on the standard output of simulator i (0: the shared
    // host's), passing over the lines before it, such as the answers to its --control FIFO.
    bool waitForSimulatorLine(int i, const QByteArray& line);
    // Writes `line` and a newline to a simulator's --control FIFO; false at once when no
    // simulator has it open for reading.
    static bool tellSimulator(const QString& fifo, const QByteArray& line);

    // The log of element i's latest simulator run, as text or as datagrams in file order.
    QString simulatorLogPath(int i) const;
    QString simulatorLog(int i) const;
    QList<LoggedDatagram> datagrams(int i) const;

    // Runs `command` inside namespace `ns` (empty: where this thread is) with `ip netns exec`
    // and waits up to 15 s. Returns the exit code, or -1 if it could not run or did not end;
    // `output` gets standard output and standard error together.
    int runIn(const QString& ns, const QStringList& command, QString* output = nullptr) const;

    static QString sourceDir();
    static QString binaryDir();
    static QString simulatorPath();

private:
    struct Host {
        QString ns;
        QString ip;
        QString mac;
        QString interface;
        int lan = 1;
    };
    struct Simulator {
        QProcess* process = nullptr;
        QString logPath;
    };

    bool parseFacts(const QString& output);
    static bool runScript(const QString& script, const QStringList& arguments, QString* output, int* code);
    void down();
    void ready();
    static void removeOrphanedNetworks();
    bool validIndex(int i) const { return i >= 1 && i <= elementCount(); }
    QProcess* startIn(int slot, const QString& ns, const QStringList& arguments, int readyTimeoutMs);
    bool setNeighbours(bool warm);

    Options options_;
    QString name_;
    bool up_ = false;
    bool built_ = false;
    QString error_;
    Host console_;
    QList<Interface> consoleInterfaces_;
    QList<Host> elements_;
    QList<Simulator> simulators_; // [0]: the shared host's, [i]: element i's
    int runs_ = 0;
    int originalNamespace_ = -1;
    std::unique_ptr<QTemporaryDir> logDir_;
};

// Prepares QApplication's environment for a run by hand: offscreen when there is no display.
void prepareE2eEnvironment();

} // namespace nms::test

// main() of an end-to-end test: without a usable namespace LAN it prints why and exits with
// 77, which CTest reports as skipped (never as passed).
#define NMS_E2E_MAIN(TestClass)                                                                                        \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        nms::test::prepareE2eEnvironment();                                                                            \
        NMS_E2E_APPLICATION app(argc, argv);                                                                           \
        QString reason;                                                                                                \
        if (!nms::test::TestNetwork::available(&reason)) {                                                             \
            std::printf("SKIP %s: %s\n", #TestClass, qPrintable(reason));                                              \
            std::fflush(stdout);                                                                                       \
            return 77;                                                                                                 \
        }                                                                                                              \
        TestClass tc;                                                                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
