// An element's configuration file: what is saved reads back as the same record, and what is not
// such a configuration is refused with what is wrong.

#include <QtTest>

#include "session/SavedConfiguration.h"

using namespace nms;

namespace {

ElementRecord Decoder()
{
    ElementRecord r;
    r.key = QStringLiteral("00A0C9F81E24");
    r.name = QStringLiteral("SITE RX         ");
    r.ip = QStringLiteral("10.0.0.6");
    r.mask = QStringLiteral("255.255.255.0");
    r.gw = QStringLiteral("10.0.0.1");
    r.remote = QStringLiteral("10.0.0.5");
    r.input = QStringLiteral("1");
    r.type = QStringLiteral("0");
    r.tx = QStringLiteral("1");
    r.role = QStringLiteral("2");
    r.sn = QStringLiteral("42");
    r.att = QStringLiteral("235");
    return r;
}

} // namespace

class TestSavedConfiguration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsBackWhatWasSaved();
    void refusesWhatIsNoConfiguration_data();
    void refusesWhatIsNoConfiguration();
    void attenuationBounds_data();
    void attenuationBounds();
};

void TestSavedConfiguration::readsBackWhatWasSaved()
{
    const QDateTime saved = QDateTime::fromString(QStringLiteral("2026-12-08T01:13:00.250Z"), Qt::ISODateWithMs);
    const QByteArray json = ConfigurationToJson(Decoder(), saved, QStringLiteral("2.0.1"));
    QVERIFY(json.contains("\"input\": \"analog\""));
    QVERIFY(json.contains("\"mac\": \"00:A0:C9:F8:1E:24\""));
    QString error;
    const std::optional<SavedConfiguration> read = ConfigurationFromJson(json, &error);
    QVERIFY2(read, qPrintable(error));
    const ElementRecord& r = read->record;
    ElementRecord expected = Decoder();
    expected.name = QStringLiteral("SITE RX");
    QCOMPARE(QStringList({r.key, r.name, r.ip, r.mask, r.gw, r.remote, r.input, r.type, r.tx, r.role, r.sn, r.att}),
             QStringList({expected.key, expected.name, expected.ip, expected.mask, expected.gw, expected.remote,
                          expected.input, expected.type, expected.tx, expected.role, expected.sn, expected.att}));
    QCOMPARE(read->saved, saved);
}

void TestSavedConfiguration::refusesWhatIsNoConfiguration_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("error");
    QTest::newRow("not JSON") << QByteArray("{") << QByteArray("[") << "it is not JSON";
    QTest::newRow("another format") << QByteArray("orbilane-nms-configuration") << QByteArray("something")
                                    << "it is not an element configuration";
    QTest::newRow("a later version") << QByteArray("\"version\": 1") << QByteArray("\"version\": 2")
                                     << "its version 2 is not one this program reads";
    QTest::newRow("no MAC") << QByteArray("00:A0:C9:F8:1E:24") << QByteArray("nowhere") << "its \"mac\"";
    QTest::newRow("a bad address") << QByteArray("10.0.0.1\"") << QByteArray("10.0.0.300\"")
                                   << "its \"gateway\" is not an IP address";
    QTest::newRow("an unknown selector") << QByteArray("\"analog\"") << QByteArray("\"aes\"")
                                         << "its \"input\" is not one of digital/analog";
    QTest::newRow("no role") << QByteArray("\"decoder\"") << QByteArray("\"router\"") << "its \"role\"";
    QTest::newRow("attenuation out of range")
        << QByteArray("235") << QByteArray("3") << "its \"attenuation\" is not 14 to 255";
}

void TestSavedConfiguration::refusesWhatIsNoConfiguration()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, error);
    QByteArray json = ConfigurationToJson(Decoder(), QDateTime::currentDateTimeUtc(), QStringLiteral("2.0.1"));
    QVERIFY(json.contains(from));
    json.replace(from, to);
    QString why;
    QVERIFY(!ConfigurationFromJson(json, &why));
    QVERIFY2(why.startsWith(error), qPrintable(why));
}

void TestSavedConfiguration::attenuationBounds_data()
{
    QTest::addColumn<QString>("att");
    QTest::addColumn<bool>("read");
    QTest::newRow("mute") << "14" << true;
    QTest::newRow("0 dB") << "255" << true;
    QTest::newRow("below mute") << "13" << false;
    QTest::newRow("above 0 dB") << "256" << false;
}

void TestSavedConfiguration::attenuationBounds()
{
    QFETCH(QString, att);
    QFETCH(bool, read);
    ElementRecord decoder = Decoder();
    decoder.att = att;
    const QByteArray json = ConfigurationToJson(decoder, QDateTime::currentDateTimeUtc(), QStringLiteral("2.0.1"));
    QVERIFY(json.contains("\"attenuation\": " + att.toLatin1()));
    QString why;
    const std::optional<SavedConfiguration> back = ConfigurationFromJson(json, &why);
    QCOMPARE(bool(back), read);
    if (back)
        QCOMPARE(back->record.att, att);
}

QTEST_GUILESS_MAIN(TestSavedConfiguration)
#include "tst_savedconfiguration.moc"
