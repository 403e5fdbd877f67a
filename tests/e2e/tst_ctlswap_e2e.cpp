// orbilanectl replacing a unit, on a namespace LAN: element 1 is the old unit, element 2 the spare
// that takes its configuration from the history or from a file saved before; the address guard
// in front of set, with an address a host not in the database already answers at; and what
// apply-config refuses before anything is sent. Every test on a LAN and a database of its own.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ElementStore.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr int kWindowMs = 300;

struct Run {
    int code = -1;
    QString out, err;
};

QString Printed(const Run& run)
{
    return QStringLiteral("exit %1\n%2%3").arg(run.code).arg(run.out, run.err);
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// The ConfigWrites an element received, each with the address it was told to take.
QStringList ConfigWriteAddresses(const QList<LoggedDatagram>& datagrams)
{
    QStringList addresses;
    for (const LoggedDatagram& d : datagrams) {
        if (d.incoming && d.localPort == 2976 && d.length() == 35)
            addresses.append(QStringLiteral("%1.%2.%3.%4")
                                 .arg(quint8(d.bytes[0]))
                                 .arg(quint8(d.bytes[1]))
                                 .arg(quint8(d.bytes[2]))
                                 .arg(quint8(d.bytes[3])));
    }
    return addresses;
}

} // namespace

class TstCtlSwapE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void swap_data();
    void swap();
    void takenAddress_data();
    void takenAddress();
    void refused_data();
    void refused();

private:
    Run ctl(const QStringList& arguments);
    QString key(int i) const { return MacTextToKey(net_->elementMac(i).toUpper()); }

    TestNetwork* net_ = nullptr;
    std::unique_ptr<QTemporaryDir> dir_;
    QString database_;
};

Run TstCtlSwapE2e::ctl(const QStringList& arguments)
{
    QProcess process;
    process.start(TestNetwork::binaryDir() + QStringLiteral("/orbilanectl"),
                  arguments + QStringList {"--database", database_, "--window-ms", QString::number(kWindowMs)});
    Run run;
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TstCtlSwapE2e::init()
{
    // The spare moves its interface for real: each test starts from a LAN as the script made it.
    net_ = new TestNetwork(2, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY(net_->enterConsoleNamespace());
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    database_ = dir_->filePath(QStringLiteral("nms.ini"));
}

void TstCtlSwapE2e::cleanup()
{
    delete net_;
    net_ = nullptr;
    dir_.reset();
}

void TstCtlSwapE2e::swap_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::newRow("from the history, by the old unit's MAC") << false;
    QTest::newRow("from a file saved before it vanished") << true;
}

void TstCtlSwapE2e::swap()
{
    QFETCH(bool, fromFile);
    const QString fifo = dir_->filePath(QStringLiteral("old.control"));
    QVERIFY(
        net_->startSimulator(1, {"--role",      "decoder",  "--name",     "OLD RX",  "--serial",  "21",     "--gateway",
                                 "10.77.0.254", "--remote", "10.77.0.40", "--input", "1",         "--type", "1",
                                 "--tx",        "1",        "--atten",    "200",     "--control", fifo}));
    Run run = ctl({"discover"});
    QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    const ElementRecord old = ElementStore(database_).read(key(1));
    QCOMPARE(old.name.trimmed(), QStringLiteral("OLD RX"));
    const QString file = dir_->filePath(QStringLiteral("old-rx.json"));
    if (fromFile) {
        run = ctl({"save-config", "OLD RX", file});
        QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    }

    // The old unit leaves the network as if unplugged; a spare with factory values comes in
    // at another address.
    QVERIFY(TestNetwork::tellSimulator(fifo, "down"));
    QVERIFY(net_->waitForSimulatorLine(1, "DOWN 1"));
    QVERIFY(net_->startSimulator(2, {"--role", "decoder", "--name", "SPARE RX", "--serial", "22"}));
    run = ctl({"discover", "--json"});
    QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    const QJsonArray missing = QJsonDocument::fromJson(run.out.toUtf8())["missing"].toArray();
    QCOMPARE(missing.size(), 1);
    QCOMPARE(missing.first()["name"].toString(), QStringLiteral("OLD RX"));

    run = ctl({"apply-config", net_->elementIp(2), fromFile ? file : net_->elementMac(1), "--json"});
    QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    const QJsonObject answer = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(answer["confirmed"].toArray().toVariantList(),
             QVariantList({"name", "ip", "mask", "gateway", "remote", "input", "type", "tx", "attenuation"}));
    QCOMPARE(answer["refused"].toArray().size(), 0);

    // Stored under the spare's MAC, with its own serial number and the old unit's configuration.
    const ElementRecord spare = ElementStore(database_).read(key(2));
    QCOMPARE(spare.sn, QStringLiteral("22"));
    QCOMPARE(spare.name, old.name);
    QCOMPARE(spare.ip, net_->elementIp(1));
    for (const auto& [field, value] :
         {std::pair {&ElementRecord::mask, "255.255.255.0"}, std::pair {&ElementRecord::gw, "10.77.0.254"},
          std::pair {&ElementRecord::remote, "10.77.0.40"}, std::pair {&ElementRecord::input, "1"},
          std::pair {&ElementRecord::type, "1"}, std::pair {&ElementRecord::tx, "1"},
          std::pair {&ElementRecord::att, "200"}})
        QCOMPARE(spare.*field, QString::fromLatin1(value));
    QVERIFY(!ElementStore(database_).list().keys.contains(key(1)));

    // The spare really holds it: its interface moved, and it answers a paging with it.
    QString addresses;
    QCOMPARE(net_->runIn(net_->elementNamespace(2), {"ip", "-4", "-o", "addr", "show", "dev", "eth0"}, &addresses), 0);
    QVERIFY2(addresses.contains(net_->elementIp(1) + "/24") && !addresses.contains(net_->elementIp(2) + "/"),
             qPrintable(addresses));
    run = ctl({"discover", "--json", "--no-store"});
    QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    const QJsonArray found = QJsonDocument::fromJson(run.out.toUtf8())["found"].toArray();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first()["mac"].toString(), KeyToMacText(key(2)));
    QCOMPARE(found.first()["ip"].toString(), net_->elementIp(1));
    QCOMPARE(found.first()["name"].toString(), QStringLiteral("OLD RX"));
    QCOMPARE(found.first()["attenuationDb"].toDouble(), -27.5);
}

void TstCtlSwapE2e::takenAddress_data()
{
    QTest::addColumn<QString>("taken");
    QTest::addColumn<QString>("finding");
    // It answers the echo; the neighbour table names its MAC.
    QTest::newRow("an element the database does not hold")
        << "10.77.0.11"
        << "10.77.0.11 already answers on the network (MAC 02:00:00:00:01:01).";
    // Only the echo answers: the console's own address has no neighbour entry.
    QTest::newRow("the console's second address") << "10.77.0.200"
                                                  << "10.77.0.200 already answers on the network.";
}

void TstCtlSwapE2e::takenAddress()
{
    QFETCH(QString, taken);
    QFETCH(QString, finding);
    QVERIFY(net_->startSimulator(1, {"--name", "OTHER TX"}));
    QVERIFY(net_->startSimulator(2, {"--name", "SPARE TX"}));
    QCOMPARE(net_->runIn(net_->consoleNamespace(), {"ip", "addr", "add", "10.77.0.200/24", "dev", "eth0"}), 0);
    Run run = ctl({"discover"});
    QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    QVERIFY(ElementStore(database_).remove(key(1)));

    run = ctl({"set", "SPARE TX", "--ip", taken});
    QVERIFY2(run.code == 1, qPrintable(Printed(run)));
    QVERIFY2(run.err.contains(finding), qPrintable(run.err));
    QVERIFY2(run.err.contains("nothing was sent"), qPrintable(run.err));
    QCOMPARE(ConfigWriteAddresses(net_->datagrams(2)), QStringList());
    QCOMPARE(ElementStore(database_).read(key(2)).ip, net_->elementIp(2));

    // Forced, it is sent: what becomes of two hosts on one address is the operator's to see.
    run = ctl({"set", "SPARE TX", "--ip", taken, "--force"});
    QVERIFY2(!run.err.contains("already answers"), qPrintable(Printed(run)));
    QCOMPARE(ConfigWriteAddresses(net_->datagrams(2)), QStringList {taken});
}

void TstCtlSwapE2e::refused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("said");
    QTest::newRow("another role") << QByteArray(R"({"format": "orbilane-nms-configuration", "version": 1,
        "name": "SITE RX", "mac": "02:00:00:00:09:09", "role": "decoder", "serial": "9", "ip": "10.77.0.11",
        "mask": "255.255.255.0", "gateway": "0.0.0.0", "remote": "10.77.0.12", "input": "digital",
        "type": "mpx", "tx": "unicast", "attenuation": 235})")
                                  << "is for a decoder and OTHER TX [02:00:00:00:01:01] 10.77.0.11 is an encoder";
    QTest::newRow("not a configuration") << QByteArray("[1, 2]") << "it is not an element configuration";
    QTest::newRow("no such MAC in the history") << QByteArray() << "no element with the MAC address 02:00:00:00:09:09";
}

void TstCtlSwapE2e::refused()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, said);
    QVERIFY(net_->startSimulator(1, {"--name", "OTHER TX"}));
    Run run = ctl({"discover"});
    QVERIFY2(run.code == 0, qPrintable(Printed(run)));
    const QString path = dir_->filePath(QStringLiteral("site-rx.json"));
    if (!file.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    }
    const QByteArray before = FileBytes(database_);

    run = ctl({"apply-config", "OTHER TX", file.isEmpty() ? QStringLiteral("02-00-00-00-09-09") : path});
    QVERIFY2(run.code == 1, qPrintable(Printed(run)));
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    if (said.startsWith("it is"))
        QVERIFY2(run.err.contains("cannot use " + path + ": "), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(ConfigWriteAddresses(net_->datagrams(1)), QStringList());
    QCOMPARE(FileBytes(database_), before);
}

NMS_E2E_MAIN(TstCtlSwapE2e)
#include "tst_ctlswap_e2e.moc"
