// The configurations offered for a unit swap: every kept one, the one seen last first, marked
// when gone from the database; and what the editor fills from the one chosen.

#include <QtTest>

#include "session/KeptConfigurations.h"

using namespace nms;

Q_DECLARE_METATYPE(QList<nms::HistoryEntry>)
Q_DECLARE_METATYPE(nms::ElementRole)

namespace {

QDateTime At(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
}

ElementRecord Record(const QString& key, const QString& role, const QString& att = {})
{
    ElementRecord r;
    r.key = key;
    r.name = QStringLiteral("OLD UNIT        ");
    r.ip = QStringLiteral("10.0.0.6");
    r.mask = QStringLiteral("255.255.255.0");
    r.gw = QStringLiteral("10.0.0.1");
    r.remote = QStringLiteral("10.0.0.5");
    r.input = QStringLiteral("1");
    r.type = QStringLiteral("0");
    r.tx = QStringLiteral("1");
    r.role = role;
    r.sn = QStringLiteral("7");
    r.att = att;
    return r;
}

} // namespace

class TestKeptConfigurations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listedNewestFirstAndMarked_data();
    void listedNewestFirstAndMarked();
    void fill_data();
    void fill();
    void anotherRoleIsAskedFirst();
    void fileNameOffered();
};

void TestKeptConfigurations::listedNewestFirstAndMarked_data()
{
    QTest::addColumn<QList<HistoryEntry>>("history");
    QTest::addColumn<QStringList>("databaseKeys");
    QTest::addColumn<QStringList>("captions");

    const HistoryEntry a {Record(QStringLiteral("0200000000AA"), QStringLiteral("1")), At("2026-12-08T10:00:00.000Z")};
    const HistoryEntry b {Record(QStringLiteral("0200000000BB"), QStringLiteral("2")), At("2026-12-08T11:00:00.000Z")};
    const HistoryEntry c {Record(QStringLiteral("0200000000CC"), QStringLiteral("2")), At("2026-12-08T11:00:00.000Z")};
    const QString aText = QStringLiteral("OLD UNIT [02:00:00:00:00:AA]");
    const QString bText = QStringLiteral("OLD UNIT [02:00:00:00:00:BB]");
    const QString cText = QStringLiteral("OLD UNIT [02:00:00:00:00:CC]");
    const QString gone = QStringLiteral(" (not in the database)");

    QTest::newRow("nothing kept") << QList<HistoryEntry> {} << QStringList {a.record.key} << QStringList {};
    QTest::newRow("all in the database") << QList<HistoryEntry> {a, b} << QStringList {a.record.key, b.record.key}
                                         << QStringList {bText, aText};
    QTest::newRow("one gone from it") << QList<HistoryEntry> {b, a} << QStringList {b.record.key}
                                      << QStringList {bText, aText + gone};
    QTest::newRow("empty database") << QList<HistoryEntry> {a} << QStringList {} << QStringList {aText + gone};
    QTest::newRow("keys in another case")
        << QList<HistoryEntry> {a} << QStringList {QStringLiteral("0200000000aa")} << QStringList {aText};
    QTest::newRow("seen at the same time: by key")
        << QList<HistoryEntry> {a, c, b} << QStringList {a.record.key, b.record.key, c.record.key}
        << QStringList {bText, cText, aText};
}

void TestKeptConfigurations::listedNewestFirstAndMarked()
{
    QFETCH(QList<HistoryEntry>, history);
    QFETCH(QStringList, databaseKeys);
    QFETCH(QStringList, captions);
    QStringList shown;
    for (const KeptConfiguration& kept : KeptConfigurations(history, databaseKeys))
        shown.append(KeptConfigurationCaption(kept));
    QCOMPARE(shown, captions);
}

void TestKeptConfigurations::fill_data()
{
    QTest::addColumn<QString>("keptRole");
    QTest::addColumn<QString>("att");
    QTest::addColumn<ElementRole>("shown");
    QTest::addColumn<int>("attenuation"); // -1: the slider stays

    QTest::newRow("decoder to decoder") << QStringLiteral("2") << QStringLiteral("235") << ElementRole::Decoder << 235;
    QTest::newRow("decoder, mute") << QStringLiteral("2") << QStringLiteral("14") << ElementRole::Decoder << 14;
    QTest::newRow("decoder, below mute") << QStringLiteral("2") << QStringLiteral("13") << ElementRole::Decoder << -1;
    QTest::newRow("decoder, above 0 dB") << QStringLiteral("2") << QStringLiteral("256") << ElementRole::Decoder << -1;
    QTest::newRow("decoder, none kept") << QStringLiteral("2") << QString() << ElementRole::Decoder << -1;
    QTest::newRow("decoder, not a number") << QStringLiteral("2") << QStringLiteral("x") << ElementRole::Decoder << -1;
    QTest::newRow("decoder to encoder") << QStringLiteral("2") << QStringLiteral("235") << ElementRole::Encoder << -1;
    QTest::newRow("encoder to decoder") << QStringLiteral("1") << QStringLiteral("235") << ElementRole::Decoder << -1;
    QTest::newRow("encoder to encoder") << QStringLiteral("1") << QString() << ElementRole::Encoder << -1;
}

void TestKeptConfigurations::fill()
{
    QFETCH(QString, keptRole);
    QFETCH(QString, att);
    QFETCH(ElementRole, shown);
    QFETCH(int, attenuation);
    const ConfigurationFill fill = FillFromRecord(Record(QStringLiteral("0200000000AA"), keptRole, att), shown);
    const ConfigFields& f = fill.fields;
    QCOMPARE(QStringList({f.name, f.ip, f.mask, f.gw, f.remote}),
             QStringList({QStringLiteral("OLD UNIT        "), QStringLiteral("10.0.0.6"),
                          QStringLiteral("255.255.255.0"), QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.5")}));
    QCOMPARE(QList<int>({f.input, f.type, f.tx}), QList<int>({1, 0, 1}));
    QCOMPARE(fill.attenuation.value_or(-1), attenuation);
}

void TestKeptConfigurations::anotherRoleIsAskedFirst()
{
    const ElementRecord encoder = Record(QStringLiteral("0200000000AA"), QStringLiteral("1"));
    QVERIFY(!RoleMismatchQuestion(encoder, ElementRole::Encoder));
    const std::optional<QString> question = RoleMismatchQuestion(encoder, ElementRole::Decoder);
    QVERIFY(question);
    QVERIFY(question->contains(QStringLiteral("OLD UNIT [02:00:00:00:00:AA]")));
    QVERIFY(question->contains(QStringLiteral("configuration: ENCODER\r")));
    QVERIFY(question->contains(QStringLiteral("Element: DECODER\r")));
    QVERIFY(RoleMismatchQuestion(encoder, ElementRole::Unknown));
}

void TestKeptConfigurations::fileNameOffered()
{
    ElementRecord r = Record(QStringLiteral("0200000000AA"), QStringLiteral("1"));
    QCOMPARE(ConfigurationFileName(r), QStringLiteral("OLD_UNIT_02-00-00-00-00-AA.json"));
    r.name = QStringLiteral("A/B: C");
    QCOMPARE(ConfigurationFileName(r), QStringLiteral("A_B_C_02-00-00-00-00-AA.json"));
    r.name.clear();
    QCOMPARE(ConfigurationFileName(r), QStringLiteral("02-00-00-00-00-AA.json"));
}

QTEST_GUILESS_MAIN(TestKeptConfigurations)
#include "tst_keptconfigurations.moc"
