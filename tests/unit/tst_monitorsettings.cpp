// The monitor's settings file: defaults, values read, and every kind of value that cannot be used.
#include "monitor/MonitorSettings.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTest>

#include "support/RecordingNotices.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

namespace {

using Values = QMap<QString, QString>;

// A file in which every value differs from its default.
const Values kGood {{"presence_period_ms", "2500"}, {"misses_for_down", "5"},
                    {"audio_period_ms", "500"},     {"silence_dbfs", "-40.5"},
                    {"silence_ms", "3000"},         {"audio_back_ms", "1500"},
                    {"watch_audio", "false"},       {"metrics_listen", "127.0.0.1:29760"}};

Values Texts(const MonitorSettings& s)
{
    return {{"presence_period_ms", QString::number(s.presencePeriodMs)},
            {"misses_for_down", QString::number(s.missesForDown)},
            {"audio_period_ms", QString::number(s.audioPeriodMs)},
            {"silence_dbfs", QString::number(s.silenceDbfs)},
            {"silence_ms", QString::number(s.silenceMs)},
            {"audio_back_ms", QString::number(s.audioBackMs)},
            {"watch_audio", s.watchAudio ? "true" : "false"},
            {"metrics_listen", s.metricsPort ? QStringLiteral("%1:%2").arg(s.metricsAddress).arg(s.metricsPort) : ""}};
}

QString Write(const TempDir& dir, const QByteArray& content)
{
    QFile file(dir.file("orbilane-nms.conf"));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? file.fileName() : QString();
}

} // namespace

class TestMonitorSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void value_data();
    void value();
    void fileGivesDefaults_data();
    void fileGivesDefaults();
};

void TestMonitorSettings::value_data()
{
    // Values of the good file replaced, what the settings hold afterwards where it is not what
    // was written, and whether that is told (in one notice, naming the file and the keys).
    QTest::addColumn<Values>("written");
    QTest::addColumn<Values>("used");
    QTest::addColumn<bool>("told");
    const auto row = [](const char* name, Values written, Values used, bool told) {
        QTest::newRow(name) << written << used << told;
    };
    row("good file", {}, {}, false);
    row("bounds",
        {{"presence_period_ms", "100"},
         {"audio_period_ms", "3600000"},
         {"misses_for_down", "100"},
         {"silence_dbfs", "-150"},
         {"audio_back_ms", "0"},
         {"watch_audio", "Yes"}},
        {{"watch_audio", "true"}}, false);
    row("period too short", {{"presence_period_ms", "99"}}, {{"presence_period_ms", "5000"}}, true);
    row("period too long", {{"audio_period_ms", "3600001"}}, {{"audio_period_ms", "1000"}}, true);
    row("period as a list", {{"audio_period_ms", "500,600"}}, {{"audio_period_ms", "1000"}}, true);
    row("misses none", {{"misses_for_down", "0"}}, {{"misses_for_down", "3"}}, true);
    row("misses a fraction", {{"misses_for_down", "2.5"}}, {{"misses_for_down", "3"}}, true);
    row("threshold above 0", {{"silence_dbfs", "0.5"}}, {{"silence_dbfs", "-50"}}, true);
    row("threshold nan", {{"silence_dbfs", "nan"}}, {{"silence_dbfs", "-50"}}, true);
    row("duration negative", {{"silence_ms", "-1"}}, {{"silence_ms", "10000"}}, true);
    row("switch neither", {{"watch_audio", "maybe"}}, {{"watch_audio", "true"}}, true);
    row("listen IPv6 in brackets", {{"metrics_listen", "[::1]:1"}}, {{"metrics_listen", "::1:1"}}, false);
    row("listen port 65535", {{"metrics_listen", "10.0.0.5:65535"}}, {}, false);
    row("listen off when empty", {{"metrics_listen", ""}}, {}, false);
    row("listen port 0", {{"metrics_listen", "127.0.0.1:0"}}, {{"metrics_listen", ""}}, true);
    row("listen port 65536", {{"metrics_listen", "127.0.0.1:65536"}}, {{"metrics_listen", ""}}, true);
    row("listen no port", {{"metrics_listen", "127.0.0.1"}}, {{"metrics_listen", ""}}, true);
    row("listen host name", {{"metrics_listen", "localhost:29760"}}, {{"metrics_listen", ""}}, true);
    row("listen IPv6 bare", {{"metrics_listen", "::1:29760"}}, {{"metrics_listen", ""}}, true);
    row("text and empty", {{"misses_for_down", "many"}, {"audio_back_ms", ""}},
        {{"misses_for_down", "3"}, {"audio_back_ms", "2000"}}, true);
}

void TestMonitorSettings::value()
{
    QFETCH(Values, written);
    QFETCH(Values, used);
    QFETCH(bool, told);
    TempDir dir;
    RecordingNotices notices;
    // Another group's keys are not the monitor's.
    QByteArray content = "[other]\npresence_period_ms=1\n[monitor]\n";
    for (auto it = kGood.cbegin(); it != kGood.cend(); ++it)
        content += it.key().toUtf8() + '=' + written.value(it.key(), it.value()).toUtf8() + '\n';
    const QString path = Write(dir, content);
    const Values loaded = Texts(MonitorSettings::Load(path, notices));
    for (const QString& key : kGood.keys())
        QCOMPARE(loaded[key], used.value(key, written.value(key, kGood[key])));
    QCOMPARE(notices.count(), told ? 1 : 0);
    for (const QString& key : used.keys()) {
        if (told)
            QVERIFY2(notices.shown[0].text.contains(path) && notices.shown[0].text.contains(key),
                     qPrintable(notices.shown[0].text));
    }
}

void TestMonitorSettings::fileGivesDefaults_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("told");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("unclosed group") << QByteArray("[monitor\npresence_period_ms=2500\n") << true;
    QTest::newRow("a folder") << QByteArray("/") << true;
}

void TestMonitorSettings::fileGivesDefaults()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, told);
    TempDir dir;
    RecordingNotices notices;
    QString path = dir.file("orbilane-nms.conf");
    if (content == "/")
        QVERIFY(QDir().mkpath(path));
    else if (!content.isEmpty())
        path = Write(dir, content);
    QVERIFY(MonitorSettings::Load(path, notices) == MonitorSettings());
    QCOMPARE(notices.count(), told ? 1 : 0);
    QVERIFY(!told || notices.shown[0].text.contains(path));
    QVERIFY(MonitorSettings::DefaultPath().endsWith("/orbilane-nms/orbilane-nms.conf"));
}

QTEST_GUILESS_MAIN(TestMonitorSettings)
#include "tst_monitorsettings.moc"
