// The history end to end: orbilanectl monitor watches an encoder on a namespace LAN with a
// history "minute" of 200 ms; the encoder taken off the network shows as a down band in
// orbilanectl history --json, after minutes it was up and before it, with its round trips.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ElementStore.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

class TstHistoryE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downBandInTheHistory();
};

void TstHistoryE2e::downBandInTheHistory()
{
    TestNetwork net(1);
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QVERIFY(net.enterConsoleNamespace());
    QTemporaryDir dir;
    const QString control = dir.filePath(QStringLiteral("control"));
    QVERIFY(net.startSimulator(1, {"--control", control, "--level-dbfs", "-12"}));
    const QString database = dir.filePath(QStringLiteral("nms.ini"));
    const QString key = MacTextToKey(net.elementMac(1).toUpper());
    QVERIFY(ElementStore(database).write(key, {{"name", "STUDIO TX"}, {"ip", net.elementIp(1)}, {"role", "1"}}));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config/orbilane-nms"))));
    QFile settings(dir.filePath(QStringLiteral("config/orbilane-nms/orbilane-nms.conf")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[monitor]\npresence_period_ms=100\nmisses_for_down=2\naudio_period_ms=100\n"
                   "[history]\nbucket_ms=200\n");
    settings.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    const QString program = TestNetwork::binaryDir() + QStringLiteral("/orbilanectl");

    QProcess monitor;
    monitor.setProcessEnvironment(environment);
    monitor.start(program, {"monitor", "--database", database});
    QString events;
    const auto logged = [&](const char* event) {
        events += QString::fromUtf8(monitor.readAllStandardOutput());
        return events.contains(QLatin1String(event));
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged("console-started"), 5000);

    // The rows as history prints them; each run reads the file beside the running monitor.
    QJsonArray rows;
    const auto history = [&] {
        QProcess run;
        run.setProcessEnvironment(environment);
        run.start(program, {"history", net.elementMac(1), "--since", "1h", "--json", "--database", database});
        if (!run.waitForFinished(5000) || run.exitCode() != 0)
            return false;
        rows = QJsonDocument::fromJson(run.readAllStandardOutput()).object().value("rows").toArray();
        return true;
    };
    const auto count = [&](const char* field, double atLeast) {
        int n = 0;
        for (const QJsonValue& row : rows)
            n += row[QLatin1String(field)].toDouble() >= atLeast;
        return n;
    };
    // Two whole buckets up, each with its round trips and peaks.
    QTRY_VERIFY_WITH_TIMEOUT(history() && count("up_s", 0.2) >= 2, 5000);

    QVERIFY(TestNetwork::tellSimulator(control, "down"));
    QTRY_VERIFY_WITH_TIMEOUT(logged("element-down"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(history() && count("down_s", 0.2) >= 1, 5000);
    monitor.terminate();
    QVERIFY(monitor.waitForFinished(5000));
    QCOMPARE(monitor.exitCode(), 0);
    QVERIFY(history());

    // In time order: up (answers and levels), then down (losses, no answer, no level).
    int firstDown = -1, lastUp = -1;
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows[i].toObject();
        if (row["down_s"].toDouble() >= 0.2 && firstDown < 0) {
            firstDown = i;
            QCOMPARE(row["answered"].toInt(), 0);
            QVERIFY(row["lost"].toInt() >= 1);
            QVERIFY(row["rtt_median_ms"].isNull());
            QVERIFY(row["peak_max_dbfs"].isNull());
        }
        // A bucket of 200 ms holds about two echoes, and one may still be on its way.
        if (row["up_s"].toDouble() >= 0.2 && row["down_s"].toDouble() == 0 && row["answered"].toInt() >= 1) {
            lastUp = i;
            QVERIFY(row["rtt_min_ms"].toDouble() <= row["rtt_median_ms"].toDouble());
            QVERIFY(row["rtt_median_ms"].toDouble() <= row["rtt_max_ms"].toDouble());
            QVERIFY(row["peak_max_dbfs"].isNull() || row["peak_max_dbfs"].toDouble() == -12.0);
        }
    }
    QVERIFY2(lastUp >= 0 && firstDown > lastUp, qPrintable(QJsonDocument(rows).toJson()));
    QVERIFY(rows.last()["time"].toString() > rows.first()["time"].toString());
}

NMS_E2E_MAIN(TstHistoryE2e)
#include "tst_history_e2e.moc"
