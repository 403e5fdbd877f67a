// Alarms off the desk, end to end on a namespace LAN: the console's core watches a decoder that
// is taken off the network and comes back, and each notifier's real receiver (aiosmtpd,
// http.server, snmptrapd, a script), listening in the console's namespace, gets the alarm once
// and its recovery once. The web receiver is down at first and the core is restarted before it
// comes back: the outbox delivers both messages to it then, in order.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtTest>

#include "database/ElementRecords.h"
#include "services/EchoSweep.h"
#include "services/NeighbourTable.h"
#include "support/CoreFixture.h"
#include "support/Receivers.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kTrapDown = QStringLiteral("1.3.6.1.4.1.8072.9999.9999.1.0.1");
const QString kTrapUp = QStringLiteral("1.3.6.1.4.1.8072.9999.9999.1.0.2");

QByteArray Header(const QByteArray& mail, const QByteArray& name)
{
    for (const QByteArray& line : mail.left(mail.indexOf("\r\n\r\n")).split('\n'))
        if (line.startsWith(name + ": "))
            return line.mid(name.size() + 2).trimmed();
    return QByteArray();
}

// What each receiver got, as "event/status" in the order received.
QStringList Mails(const SmtpReceiver& smtp)
{
    QStringList got;
    for (const ReceivedMail& mail : smtp.messages())
        got.append(Header(mail.data, "X-Orbilane-Event") + '/' + Header(mail.data, "X-Orbilane-Status"));
    return got;
}

QString EventOf(const QByteArray& json)
{
    const std::optional<NotifyMessage> m = NotifyMessage::FromJson(QJsonDocument::fromJson(json).object());
    return m ? m->event + u'/' + m->status : QStringLiteral("(not a message)");
}

QStringList Posts(const HttpReceiver& http)
{
    QStringList got;
    for (const ReceivedRequest& r : http.requests())
        got.append(EventOf(r.body));
    return got;
}

QStringList Commands(const QString& path)
{
    QFile file(path);
    QStringList got;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                got.append(EventOf(line));
    return got;
}

QStringList Traps(const TrapReceiver& traps)
{
    QStringList got;
    for (const ReceivedTrap& t : traps.traps())
        got.append(t.trapOid == kTrapDown ? "element-down" : t.trapOid == kTrapUp ? "element-up" : t.trapOid);
    return got;
}

} // namespace

class TestNotifyE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downAndBackReachEveryReceiverOnce();
};

void TestNotifyE2e::downAndBackReachEveryReceiverOnce()
{
    TestNetwork net(1);
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QVERIFY(net.enterConsoleNamespace());
    QTemporaryDir controls;
    QVERIFY(net.startSimulator(1, {"--role", "decoder", "--control", controls.filePath("1")}));

    // The receivers, on the console namespace's loopback; the web one not yet.
    SmtpReceiver smtp;
    QVERIFY2(smtp.start(), qPrintable(smtp.errorString()));
    TrapReceiver traps;
    QVERIFY2(traps.start(), qPrintable(traps.errorString()));
    HttpReceiver http;
    const quint16 httpPort = FreePort();
    TempDir dir;
    const QString commands = dir.file("commands.jsonl");
    QFile script(dir.file("record.sh"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ncat >> \"$1\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));

    const QString settings = dir.file("orbilane-nms.conf");
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral("[notify.mail]\ntype=email\nurl=smtp://127.0.0.1:%1\ntls=none\n"
                       "from=nms@studio.example\nto=oncall@studio.example\nbatch_ms=50\n\n"
                       "[notify.hook]\ntype=webhook\nurl=http://127.0.0.1:%2/alarms\ntimeout_s=1\nbatch_ms=50\n\n"
                       "[notify.trap]\ntype=snmp-trap\nhost=127.0.0.1:%3\ninform=true\ntimeout_s=1\nbatch_ms=50\n\n"
                       "[notify.cmd]\ntype=exec\ncommand=\\\"%4\\\" \\\"%5\\\"\nbatch_ms=50\n")
            .arg(smtp.port())
            .arg(httpPort)
            .arg(traps.port())
            .arg(script.fileName(), commands)
            .toUtf8());
    file.close();

    LinuxEchoSweep sweep;
    LinuxNeighbourTable neighbours;
    CoreOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours;
    options.sweep = &sweep;
    MonitorSettings watch;
    watch.presencePeriodMs = 150;
    watch.watchAudio = false;
    options.watch = watch;
    options.databasePath = dir.database();
    options.notifySettingsPath = settings;
    options.notifyTiming.tickMs = 100;
    options.notifyTiming.pollMs = 100;
    options.notifyTiming.firstRetryMs = 150;
    options.notifyTiming.longestRetryMs = 300;
    const QString key = MacTextToKey(net.elementMac(1).toUpper());

    auto core = std::make_unique<CoreFixture>(options);
    StoredElement element;
    element.name = QStringLiteral("SITE RX         ");
    element.ip = net.elementIp(1);
    element.role = 2;
    QVERIFY(core->writeElement(key, element));
    QVERIFY(core->start());
    QVERIFY2(core->core().notify.notifiers().size() == 4, qPrintable(core->notices.texts().join(" | ")));
    QTRY_COMPARE_WITH_TIMEOUT(core->core().monitor.summary().up, 1, 5000);

    const QStringList alarm {"element-down/firing"};
    const QStringList both {"element-down/firing", "element-up/resolved"};
    QVERIFY(TestNetwork::tellSimulator(controls.filePath("1"), "down"));
    QTRY_COMPARE_WITH_TIMEOUT(Mails(smtp), alarm, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Commands(commands), alarm, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(Traps(traps), QStringList {"element-down"}, 2000);

    QVERIFY(TestNetwork::tellSimulator(controls.filePath("1"), "up"));
    QTRY_COMPARE_WITH_TIMEOUT(Mails(smtp), both, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Commands(commands), both, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(Traps(traps), QStringList({"element-down", "element-up"}), 2000);
    // Both wait for the web receiver, which has not answered yet.
    QTRY_COMPARE_WITH_TIMEOUT(core->core().notify.outbox().size(), 2, 2000);

    // A restart of the console in between: what waits is sent by the next one.
    core.reset();
    QVERIFY(http.start(httpPort));
    core = std::make_unique<CoreFixture>(options);
    QVERIFY(core->start());
    QTRY_COMPARE_WITH_TIMEOUT(Posts(http), both, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(core->core().notify.outbox().size(), 0, 2000);
    QCOMPARE(http.requests().first().path, "/alarms");

    // Nothing twice anywhere, nothing more after the restart.
    QTRY_COMPARE_WITH_TIMEOUT(core->core().monitor.summary().up, 1, 5000);
    QCOMPARE(Mails(smtp), both);
    QCOMPARE(Commands(commands), both);
    QCOMPARE(Traps(traps), QStringList({"element-down", "element-up"}));
}

NMS_E2E_MAIN(TestNotifyE2e)
#include "tst_notify_e2e.moc"
