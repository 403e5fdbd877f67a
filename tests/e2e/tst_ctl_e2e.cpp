// orbilanectl, the real program, on a namespace LAN with simulated elements: each command
// against live elements and the way each fails (unknown element, a name that fits two, a field
// the element refuses, no answer, the console port taken, a bad option), check's four states,
// and a configuration stored only where the element confirmed it. The program runs in the
// console's namespace, with every wait for an answer shortened.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
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

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TstCtlE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void discover_data();
    void discover();
    void commands_data();
    void commands();
    void set_data();
    void set();
    void check_data();
    void check();
    void portTaken_data();
    void portTaken();
    void monitor();

private:
    Run ctl(const QStringList& arguments, int timeoutMs = 15000);
    QString key(int i) const { return MacTextToKey(net_->elementMac(i).toUpper()); }
    void startElements(const QStringList& third = {});

    TestNetwork* net_ = nullptr;
    QTemporaryDir dir_;
    QString database_;
    QByteArray discovered_; // the database a discovery of the three elements wrote
    QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
    QStringList third_;
    bool thirdChanged_ = false; // a configuration was sent to the third element
};

Run TstCtlE2e::ctl(const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(TestNetwork::binaryDir() + QStringLiteral("/orbilanectl"),
                  arguments + (arguments.contains("--database") ? QStringList() : QStringList {"--database", database_})
                      + QStringList {"--window-ms", QString::number(kWindowMs)});
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TstCtlE2e::startElements(const QStringList& third)
{
    // An encoder, a decoder and a third encoder that the fault rows start with their switches;
    // each started again only when it has to be.
    if (!net_->simulator(1))
        QVERIFY(net_->startSimulator(1, {"--name", "STUDIO TX", "--serial", "11", "--level-dbfs", "-12"}));
    if (!net_->simulator(2))
        QVERIFY(
            net_->startSimulator(2, {"--role", "decoder", "--name", "SITE RX", "--serial", "12", "--atten", "200"}));
    if (!net_->simulator(3) || third != third_ || thirdChanged_)
        QVERIFY(net_->startSimulator(3, QStringList {"--name", "SPARE TX", "--serial", "13"} + third));
    third_ = third;
    thirdChanged_ = false;
}

void TstCtlE2e::initTestCase()
{
    net_ = new TestNetwork(3, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY(net_->enterConsoleNamespace());
    QVERIFY(dir_.isValid());
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    startElements();
    database_ = dir_.filePath(QStringLiteral("base/nms.ini"));
    const Run run = ctl({"discover"});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    discovered_ = FileBytes(database_);
}

void TstCtlE2e::init()
{
    // Every test on a copy of what the discovery stored, in a folder of its own.
    static int round = 0;
    database_ = dir_.filePath(QStringLiteral("round%1/nms.ini").arg(++round));
    QVERIFY(QDir().mkpath(QFileInfo(database_).absolutePath()));
    QFile file(database_);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(discovered_) == discovered_.size());
}

void TstCtlE2e::discover_data()
{
    QTest::addColumn<bool>("store");
    QTest::newRow("stored") << true;
    QTest::newRow("--no-store") << false;
}

void TstCtlE2e::discover()
{
    QFETCH(bool, store);
    startElements();
    // An element that no longer answers, and one element not stored yet.
    ElementStore db(database_);
    QVERIFY(db.write(QStringLiteral("0A0000000099"), {{"name", "GONE RX"}, {"ip", "10.77.0.99"}, {"role", "2"}}));
    QVERIFY(db.remove(key(3)));
    const QByteArray before = FileBytes(database_);

    QStringList arguments = {"discover", "--json"};
    if (!store)
        arguments << "--no-store";
    const Run run = ctl(arguments);
    QCOMPARE(run.code, 0);
    const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const QJsonArray found = report.value("found").toArray();
    QCOMPARE(found.size(), 3);
    QStringList macs, fresh;
    for (const QJsonValue& element : found) {
        macs.append(element["mac"].toString());
        if (element["new"].toBool())
            fresh.append(element["name"].toString());
    }
    macs.sort();
    QCOMPARE(macs, QStringList({KeyToMacText(key(1)), KeyToMacText(key(2)), KeyToMacText(key(3))}));
    QCOMPARE(fresh, QStringList {"SPARE TX"});
    QCOMPARE(report.value("missing").toArray().size(), 1);
    QCOMPARE(report.value("missing").toArray().first()["name"].toString(), QStringLiteral("GONE RX"));
    QVERIFY2(run.err.contains("3 elements found: 1 new, 1 missing"), qPrintable(run.err));

    const QString events = QFileInfo(database_).absolutePath() + QStringLiteral("/events.jsonl");
    if (store) {
        QCOMPARE(ElementStore(database_).list().keys.size(), 3);
        QVERIFY(!ElementStore(database_).list().keys.contains(QStringLiteral("0A0000000099")));
        QVERIFY(FileBytes(events).contains("\"event\":\"discovery\""));
    } else {
        QCOMPARE(FileBytes(database_), before);
        QVERIFY(!QFile::exists(events));
    }
}

void TstCtlE2e::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    // %1, %2, %3: the MAC, address and name of elements 1 to 3 are put in by the test.
    QTest::newRow("list") << QStringList {"list"} << 0 << "SITE RX"
                          << "";
    QTest::newRow("list, options first") << QStringList {"--json", "list"} << 0 << "\"serial\": 12"
                                         << "";
    QTest::newRow("show by MAC with dashes") << QStringList {"show", "@mac-2"} << 0 << "Attenuation:   -27.5 dB"
                                             << "";
    QTest::newRow("show by address") << QStringList {"show", "@ip-1", "--json"} << 0 << "\"name\": \"STUDIO TX\""
                                     << "";
    QTest::newRow("show by name, any case") << QStringList {"show", "site rx"} << 0 << "DECODER"
                                            << "";
    QTest::newRow("ping") << QStringList {"ping", "STUDIO TX", "-c", "2", "-i", "0.1"} << 0 << "2 sent, 2 answered"
                          << "";
    QTest::newRow("level") << QStringList {"level", "@mac-1", "--seconds", "1"} << 0 << "-12.0 dBFS\n"
                           << "";
    QTest::newRow("attenuate") << QStringList {"attenuate", "SITE RX", "-10"} << 0
                               << "attenuation -10 dB sent and stored"
                               << "";
    QTest::newRow("attenuate mute") << QStringList {"attenuate", "SITE RX", "mute"} << 0 << "Mute sent and stored"
                                    << "";
    QTest::newRow("level as JSON") << QStringList {"level", "STUDIO TX", "--seconds", "1", "--json"} << 0
                                   << "\"peakDbfs\": -12"
                                   << "";
    QTest::newRow("trace") << QStringList {"list", "--trace"} << 0 << "STUDIO TX"
                           << "orbilane.store: database in use";
    QTest::newRow("version") << QStringList {"--version"} << 0 << "orbilanectl 2.0.1\n"
                             << "";
    QTest::newRow("help after the command") << QStringList {"set", "--help"} << 0 << "--tx <tx>"
                                            << "";
    QTest::newRow("export csv") << QStringList {"export", "--csv"} << 0 << "\r\n"
                                << "";
    QTest::newRow("unknown element") << QStringList {"show", "NOBODY"} << 1 << ""
                                     << "no element 'NOBODY'";
    QTest::newRow("ambiguous name") << QStringList {"ping", "@twins"} << 1 << ""
                                    << "fits 2 elements";
    QTest::newRow("level of a decoder") << QStringList {"level", "SITE RX"} << 1 << ""
                                        << "is no encoder";
    QTest::newRow("attenuate an encoder") << QStringList {"attenuate", "STUDIO TX", "-3"} << 1 << ""
                                          << "is no decoder";
    QTest::newRow("attenuation out of range") << QStringList {"attenuate", "SITE RX", "-120.5"} << 2 << ""
                                              << "is no attenuation";
    QTest::newRow("attenuation not in half decibels") << QStringList {"attenuate", "SITE RX", "-0.3"} << 2 << ""
                                                      << "is no attenuation";
    QTest::newRow("bad option") << QStringList {"list", "--no-such"} << 2 << ""
                                << "Unknown option 'no-such'";
    QTest::newRow("bad command") << QStringList {"lisst"} << 2 << ""
                                 << "Unknown command 'lisst'";
    QTest::newRow("missing element") << QStringList {"show"} << 2 << ""
                                     << "'show' needs ELEMENT";
    QTest::newRow("help of a command") << QStringList {"help", "check"} << 0 << "--silence-dbfs <dbfs>"
                                       << "";
    QTest::newRow("database a folder") << QStringList {"list", "--database", "@folder"} << 3 << ""
                                       << "cannot read the database";
}

void TstCtlE2e::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    startElements();
    for (QString& argument : arguments) {
        argument.replace("@mac-2", KeyToMacText(key(2)).replace(':', '-').toLower());
        argument.replace("@mac-1", key(1));
        argument.replace("@ip-1", net_->elementIp(1));
        argument.replace("@folder", dir_.path());
    }
    if (arguments.contains("@twins")) {
        QVERIFY(ElementStore(database_).write(key(3), {{"name", "studio tx   "}}));
        arguments.replace(arguments.indexOf("@twins"), "Studio TX");
    }
    const Run run = ctl(arguments);
    QVERIFY2(run.code == code, qPrintable(QString("%1\n%2%3").arg(run.code).arg(run.out, run.err)));
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if (code != 0)
        QCOMPARE(run.out, QString());
    if (arguments.first() == "attenuate" && code == 0) {
        const QString expected = arguments.last() == "mute" ? "14" : "235";
        QCOMPARE(ElementStore(database_).read(key(2)).att, expected);
        bool received = false;
        for (const LoggedDatagram& d : net_->datagrams(2))
            received |=
                d.incoming && d.localPort == 2977 && d.bytes.size() == 2 && d.bytes.at(0) == char(expected.toInt());
        QVERIFY(received);
    }
}

void TstCtlE2e::set_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("confirmed");
    QTest::addColumn<QStringList>("refused");
    const QStringList change = {"--name", "new tx", "--remote", "10.77.0.12", "--type", "mpx"};
    QTest::newRow("confirmed") << QStringList {} << change << 0 << QStringList {"name", "remote", "type"}
                               << QStringList {};
    QTest::newRow("refused") << QStringList {"--ignore-config-fields"} << change << 1 << QStringList {}
                             << QStringList {"name", "remote", "type"};
    QTest::newRow("no answer") << QStringList {"--no-answer"} << change << 1 << QStringList {} << QStringList {};
    QTest::newRow("editor's check") << QStringList {} << QStringList {"--gateway", "10.77.0"} << 2 << QStringList {}
                                    << QStringList {};
    QTest::newRow("name too long") << QStringList {} << QStringList {"--name", "SEVENTEEN LETTERS"} << 2
                                   << QStringList {} << QStringList {};
    QTest::newRow("no field") << QStringList {} << QStringList {} << 2 << QStringList {} << QStringList {};
}

void TstCtlE2e::set()
{
    QFETCH(QStringList, simulator);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QStringList, confirmed);
    QFETCH(QStringList, refused);
    startElements(simulator);
    thirdChanged_ = true;
    const ElementRecord before = ElementStore(database_).read(key(3));
    const QByteArray bytesBefore = FileBytes(database_);
    const Run run = ctl(QStringList {"set", "SPARE TX", "--json"} + arguments);
    QVERIFY2(run.code == code, qPrintable(QString("%1\n%2%3").arg(run.code).arg(run.out, run.err)));
    const ElementRecord after = ElementStore(database_).read(key(3));
    if (confirmed.isEmpty() && refused.isEmpty()) {
        // Nothing answered or nothing sent: the database is as it was, byte for byte.
        QCOMPARE(FileBytes(database_), bytesBefore);
        QCOMPARE(run.out, QString());
        return;
    }
    const QJsonObject answer = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(answer["confirmed"].toArray().toVariantList(), QVariant(confirmed).toList());
    QCOMPARE(answer["refused"].toArray().toVariantList(), QVariant(refused).toList());
    // What was confirmed is stored; what was refused keeps its stored value.
    const bool stored = confirmed.contains("name");
    QCOMPARE(after.name.trimmed(), stored ? QStringLiteral("NEW TX") : before.name.trimmed());
    QCOMPARE(after.remote, stored ? QStringLiteral("10.77.0.12") : before.remote);
    QCOMPARE(after.type, stored ? QStringLiteral("1") : before.type);
    QCOMPARE(after.ip, before.ip);
}

void TstCtlE2e::check_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    QTest::newRow("ok") << QStringList {} << QStringList {"SPARE TX"} << 0 << "ORBILANE OK - SPARE TX [";
    QTest::newRow("warning: round trip over -w")
        << QStringList {} << QStringList {"SPARE TX", "-w", "0"} << 1 << "ORBILANE WARNING - ";
    QTest::newRow("critical: round trip over -c")
        << QStringList {} << QStringList {"SPARE TX", "-w", "0", "-c", "0"} << 2 << "ORBILANE CRITICAL - ";
    QTest::newRow("critical: silent") << QStringList {"--level-silence"} << QStringList {"SPARE TX"} << 2
                                      << "audio silent";
    QTest::newRow("critical: quieter than a negative threshold")
        << QStringList {} << QStringList {"SPARE TX", "--silence-dbfs", "-5"} << 2 << "audio silent (-12.0 dBFS)";
    QTest::newRow("critical: no answer") << QStringList {"--no-answer"} << QStringList {"SPARE TX", "--no-audio"} << 2
                                         << "no answer to paging";
    QTest::newRow("critical: differs") << QStringList {"--report-name", "OTHER", "--serial", "14"}
                                       << QStringList {"SPARE TX", "--no-audio"} << 2
                                       << "answer differs from the database in name,sn";
    QTest::newRow("unknown: not stored") << QStringList {} << QStringList {"NOBODY"} << 3 << "ORBILANE UNKNOWN - ";
    QTest::newRow("unknown: bad threshold")
        << QStringList {} << QStringList {"SPARE TX", "-w", "x"} << 3 << "ORBILANE UNKNOWN - ";
}

void TstCtlE2e::check()
{
    QFETCH(QStringList, simulator);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, line);
    startElements(simulator);
    const QByteArray before = FileBytes(database_);
    const Run run = ctl(QStringList {"check"} + arguments);
    QVERIFY2(run.code == code, qPrintable(QString("%1\n%2%3").arg(run.code).arg(run.out, run.err)));
    // One line, the status word first, and a check never writes the database.
    QCOMPARE(run.out.count('\n'), 1);
    QVERIFY2(run.out.contains(line), qPrintable(run.out));
    QCOMPARE(FileBytes(database_), before);
    if (code < 2)
        QVERIFY2(run.out.contains(QRegularExpression(" \\| rtt=[0-9.]+ms;[0-9.]+;[0-9.]+;0 level=-12.0;;-50:\n$")),
                 qPrintable(run.out));
}

void TstCtlE2e::portTaken_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    const QString plain = "port 2976 is in use (is the Orbilane NMS console running?)";
    QTest::newRow("discover") << QStringList {"discover"} << 3 << plain;
    QTest::newRow("set") << QStringList {"set", "SPARE TX", "--name", "X"} << 3 << plain;
    QTest::newRow("level") << QStringList {"level", "STUDIO TX"} << 3 << plain;
    QTest::newRow("monitor") << QStringList {"monitor"} << 3 << plain;
    QTest::newRow("check") << QStringList {"check", "STUDIO TX"} << 3 << "ORBILANE UNKNOWN - " + plain;
    // These need no console port.
    QTest::newRow("list") << QStringList {"list"} << 0 << "STUDIO TX";
    QTest::newRow("ping") << QStringList {"ping", "STUDIO TX", "-c", "1"} << 0 << "1 answered";
}

void TstCtlE2e::portTaken()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, said);
    QUdpSocket console;
    QVERIFY(console.bind(QHostAddress::AnyIPv4, 2976));
    const QByteArray before = FileBytes(database_);
    const Run run = ctl(arguments);
    QVERIFY2(run.code == code, qPrintable(QString("%1\n%2%3").arg(run.code).arg(run.out, run.err)));
    QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
    QCOMPARE(FileBytes(database_), before);
}

void TstCtlE2e::monitor()
{
    startElements();
    // A stored element nobody answers for goes down; the settings are the user's file.
    QVERIFY(ElementStore(database_).write(QStringLiteral("0A0000000099"),
                                          {{"name", "GONE RX"}, {"ip", "10.77.0.99"}, {"role", "2"}}));
    const QString settings = dir_.filePath(QStringLiteral("config/orbilane-nms/orbilane-nms.conf"));
    QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[monitor]\npresence_period_ms=200\nmisses_for_down=2\naudio_period_ms=100\n");
    file.close();

    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(TestNetwork::binaryDir() + QStringLiteral("/orbilanectl"), {"monitor", "--database", database_});
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(process.readAllStandardOutput())).contains("element-down"),
                             10000);
    // SIGTERM ends it cleanly, the last event written.
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    out += QString::fromUtf8(process.readAllStandardOutput());
    QStringList events;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY2(!event.isEmpty() && event.contains("time"), qPrintable(line));
        events.append(event["event"].toString());
        if (event["event"] == "element-down")
            QCOMPARE(event["ip"].toString(), QStringLiteral("10.77.0.99"));
    }
    QCOMPARE(events.first(), QStringLiteral("console-started"));
    QCOMPARE(events.last(), QStringLiteral("console-stopped"));
    QCOMPARE(events.count("element-down"), 1);
    // Each line is the event log's own.
    const QByteArray log = FileBytes(QFileInfo(database_).absolutePath() + QStringLiteral("/events.jsonl"));
    QVERIFY(log.endsWith((out.section('\n', -2, -2) + '\n').toUtf8()));
}

NMS_E2E_MAIN(TstCtlE2e)
#include "tst_ctl_e2e.moc"
