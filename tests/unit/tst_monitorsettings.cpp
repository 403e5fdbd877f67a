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

// A file in which every value differs from its default.
const QMap<QString, QString> kGood {
    {"presence_period_ms", "2500"}, {"misses_for_down", "5"},  {"audio_period_ms", "500"}, {"silence_dbfs", "-40.5"},
    {"silence_ms", "3000"},         {"audio_back_ms", "1500"}, {"watch_audio", "false"},
};

QString Text(const MonitorSettings& s, const QString& key)
{
    const QMap<QString, QString> texts {
        {"presence_period_ms", QString::number(s.presencePeriodMs)},
        {"misses_for_down", QString::number(s.missesForDown)},
        {"audio_period_ms", QString::number(s.audioPeriodMs)},
        {"silence_dbfs", QString::number(s.silenceDbfs)},
        {"silence_ms", QString::number(s.silenceMs)},
        {"audio_back_ms", QString::number(s.audioBackMs)},
        {"watch_audio", s.watchAudio ? "true" : "false"},
    };
    return texts.value(key);
}

QString Write(const TempDir& dir, const QByteArray& content)
{
    const QString path = dir.file("orbilane-nms.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

QByteArray Group(const QMap<QString, QString>& values)
{
    QByteArray content = "[other]\npresence_period_ms=1\n[monitor]\n";
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        content += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    return content;
}

} // namespace

class TestMonitorSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void missingFileGivesDefaultsSilently();
    void value_data();
    void value();
    void severalBadValuesMakeOneNotice();
    void unreadableFile_data();
    void unreadableFile();
};

void TestMonitorSettings::missingFileGivesDefaultsSilently()
{
    TempDir dir;
    RecordingNotices notices;
    QVERIFY(MonitorSettings::Load(dir.file("none.conf"), notices) == MonitorSettings());
    QCOMPARE(notices.count(), 0);
    QVERIFY(MonitorSettings::DefaultPath().endsWith("/orbilane-nms/orbilane-nms.conf"));
}

void TestMonitorSettings::value_data()
{
    // One value of the good file replaced; `used` is what the settings hold for it afterwards.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("used");
    QTest::addColumn<bool>("rejected");
    const auto row = [](const char* name, const char* key, const char* value, const char* used, bool rejected) {
        QTest::newRow(name) << QString(key) << QString(value) << QString(used) << rejected;
    };
    row("good file", "misses_for_down", "5", "5", false);
    row("period: shortest", "presence_period_ms", "100", "100", false);
    row("period: longest", "audio_period_ms", "3600000", "3600000", false);
    row("period: too short", "presence_period_ms", "99", "5000", true);
    row("period: too long", "audio_period_ms", "3600001", "1000", true);
    row("period: text", "presence_period_ms", "often", "5000", true);
    row("period: empty", "presence_period_ms", "", "5000", true);
    row("period: list", "audio_period_ms", "500,600", "1000", true);
    row("misses: bounds", "misses_for_down", "100", "100", false);
    row("misses: none", "misses_for_down", "0", "3", true);
    row("misses: fraction", "misses_for_down", "2.5", "3", true);
    row("threshold: bounds", "silence_dbfs", "-150", "-150", false);
    row("threshold: above 0", "silence_dbfs", "0.5", "-50", true);
    row("threshold: below -150", "silence_dbfs", "-151", "-50", true);
    row("threshold: nan", "silence_dbfs", "nan", "-50", true);
    row("threshold: text", "silence_dbfs", "quiet", "-50", true);
    row("duration: zero", "audio_back_ms", "0", "0", false);
    row("duration: negative", "silence_ms", "-1", "10000", true);
    row("duration: too long", "audio_back_ms", "3600001", "2000", true);
    row("switch: yes", "watch_audio", "Yes", "true", false);
    row("switch: other", "watch_audio", "maybe", "true", true);
}

void TestMonitorSettings::value()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, used);
    QFETCH(bool, rejected);
    TempDir dir;
    RecordingNotices notices;
    QMap<QString, QString> values = kGood;
    values[key] = value;
    const QString path = Write(dir, Group(values));
    const MonitorSettings settings = MonitorSettings::Load(path, notices);
    for (const QString& other : kGood.keys())
        QCOMPARE(Text(settings, other), other == key ? used : kGood[other]);
    QCOMPARE(notices.count(), rejected ? 1 : 0);
    if (rejected) {
        const QString text = notices.shown.first().text;
        QVERIFY2(text.contains(path) && text.contains(key), qPrintable(text));
    }
}

void TestMonitorSettings::severalBadValuesMakeOneNotice()
{
    TempDir dir;
    RecordingNotices notices;
    const MonitorSettings settings = MonitorSettings::Load(
        Write(dir, "[monitor]\nmisses_for_down=many\nsilence_ms=-5\nsilence_dbfs=-60\n"), notices);
    QCOMPARE(settings.missesForDown, 3);
    QCOMPARE(settings.silenceMs, 10000);
    QCOMPARE(settings.silenceDbfs, -60.0);
    QCOMPARE(notices.count(), 1);
    QVERIFY(notices.shown.first().text.contains("misses_for_down"));
    QVERIFY(notices.shown.first().text.contains("silence_ms"));
}

void TestMonitorSettings::unreadableFile_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: a folder where the file should be
    QTest::newRow("unclosed group") << QByteArray("[monitor\npresence_period_ms=2500\n");
    QTest::newRow("a folder") << QByteArray();
}

void TestMonitorSettings::unreadableFile()
{
    QFETCH(QByteArray, content);
    TempDir dir;
    RecordingNotices notices;
    const QString path = content.isEmpty() ? dir.file("orbilane-nms.conf") : Write(dir, content);
    if (content.isEmpty())
        QVERIFY(QDir().mkpath(path));
    QVERIFY(MonitorSettings::Load(path, notices) == MonitorSettings());
    QCOMPARE(notices.count(), 1);
    QVERIFY2(notices.shown.first().text.contains(path), qPrintable(notices.shown.first().text));
}

QTEST_GUILESS_MAIN(TestMonitorSettings)
#include "tst_monitorsettings.moc"
