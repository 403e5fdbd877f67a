// The monitor of every element on a namespace LAN, through the console's core with its real ICMP
// socket: an encoder taken off the network becomes Down in the status table and element-down in
// the event log and comes back, a silent one becomes silence, and the meter of the encoder shown
// is never drawn from another encoder's answers.

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "database/ElementRecords.h"
#include "monitor/StatusModel.h"
#include "services/EchoSweep.h"
#include "services/NeighbourTable.h"
#include "support/CoreFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

QString Key(const TestNetwork& net, int i)
{
    return MacTextToKey(net.elementMac(i).toUpper());
}

QString StateShown(const StatusModel& model, int row)
{
    return model.data(model.index(row, StatusModel::State)).toString();
}

bool Logged(const QString& path, const QString& event, const QString& mac)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QStringLiteral("\"event\":\"%1\"").arg(event).toUtf8();
    const QByteArray element = QStringLiteral("\"mac\":\"%1\"").arg(mac.toUpper()).toUtf8();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.contains(wanted) && line.contains(element))
            return true;
    }
    return false;
}

} // namespace

class TestMonitorE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downSilentAndTheMeter();
};

void TestMonitorE2e::downSilentAndTheMeter()
{
    TestNetwork net(2);
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QVERIFY(net.enterConsoleNamespace());
    QTemporaryDir controls;
    for (int i : {1, 2}) {
        QVERIFY(net.startSimulator(i,
                                   {QStringLiteral("--control"), controls.filePath(QString::number(i)),
                                    QStringLiteral("--level-dbfs"), QStringLiteral("-12")}));
    }

    LinuxEchoSweep sweep;
    LinuxNeighbourTable neighbours;
    CoreOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours;
    options.sweep = &sweep;
    MonitorSettings settings;
    settings.presencePeriodMs = 200;
    settings.audioPeriodMs = 100;
    settings.silenceMs = 500;
    settings.audioBackMs = 200;
    options.watch = settings;
    CoreFixture f(options);
    for (int i : {1, 2}) {
        StoredElement element;
        element.ip = net.elementIp(i);
        element.role = 1;
        QVERIFY(f.writeElement(Key(net, i), element));
    }
    QVERIFY(f.start());
    StatusModel model(f->monitor, 10);
    QTRY_COMPARE_WITH_TIMEOUT(f->monitor.summary().up, 2, 5000);
    const int first = f->monitor.indexOf(Key(net, 1));
    const int second = f->monitor.indexOf(Key(net, 2));

    // The meter of element 1 while element 2, silent, answers the monitor on the same port.
    QVERIFY(TestNetwork::tellSimulator(controls.filePath(QStringLiteral("2")), "silent"));
    QVERIFY(f.select(Key(net, 1)));
    QList<quint32> drawn;
    connect(&f->audio, &AudioMonitor::levelChanged, this, [&](const AudioLevel& level) { drawn.append(level.peak); });
    f->audio.start();
    QTRY_VERIFY(drawn.size() >= 10);
    f->audio.stop();
    QVERIFY2(!drawn.contains(0u), "the meter drew another encoder's silence");

    QTRY_COMPARE_WITH_TIMEOUT(StateShown(model, second), QStringLiteral("Silent"), 5000);
    // Digital silence has no figure: a word in the table, nothing in an export.
    QCOMPARE(model.index(second, StatusModel::Peak).data().toString(), QStringLiteral("silence"));
    QCOMPARE(model.index(second, StatusModel::Peak).data(StatusModel::ExportRole).toString(), QString());
    QVERIFY(Logged(f->eventLog.path(), QStringLiteral("silence"), net.elementMac(2)));

    QVERIFY(TestNetwork::tellSimulator(controls.filePath(QStringLiteral("1")), "down"));
    QTRY_COMPARE_WITH_TIMEOUT(StateShown(model, first), QStringLiteral("Down"), 5000);
    QVERIFY(Logged(f->eventLog.path(), QStringLiteral("element-down"), net.elementMac(1)));

    QVERIFY(TestNetwork::tellSimulator(controls.filePath(QStringLiteral("1")), "up"));
    QVERIFY(TestNetwork::tellSimulator(controls.filePath(QStringLiteral("2")), "sound"));
    QTRY_COMPARE_WITH_TIMEOUT(f->monitor.summary().up, 2, 5000);
    QVERIFY(Logged(f->eventLog.path(), QStringLiteral("element-up"), net.elementMac(1)));
    QVERIFY(Logged(f->eventLog.path(), QStringLiteral("audio-back"), net.elementMac(2)));
}

NMS_E2E_MAIN(TestMonitorE2e)
#include "tst_monitor_e2e.moc"
