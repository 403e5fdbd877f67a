// ElementKey and MAC text conversions.
#include "database/ElementRecords.h"

#include <QTest>

using namespace nms;

class TestElementRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keyToMacText_data();
    void keyToMacText();
    void macTextToKey_data();
    void macTextToKey();
    void roundTripGivesTheKeyUpperCase();
};

void TestElementRecords::keyToMacText_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("mac");
    QTest::newRow("upper") << "00A0C9F81E24"
                           << "00:A0:C9:F8:1E:24";
    QTest::newRow("lower") << "00a0c9f81e24"
                           << "00:A0:C9:F8:1E:24";
    QTest::newRow("not hex, still paired") << "abcdefghijkl"
                                           << "AB:CD:EF:GH:IJ:KL";
    QTest::newRow("11 chars") << "00A0C9F81E2"
                              << "";
    QTest::newRow("13 chars") << "00A0C9F81E245"
                              << "";
    // A letter whose capital is two letters keeps its spelling: the text stays 17 characters.
    QTest::newRow("sharp s") << QString::fromLatin1("00a0c9f81e\xdf"
                                                    "4")
                             << QString::fromLatin1("00:A0:C9:F8:1E:\xdf"
                                                    "4");
    QTest::newRow("empty") << ""
                           << "";
}

void TestElementRecords::keyToMacText()
{
    QFETCH(QString, key);
    QFETCH(QString, mac);
    QCOMPARE(KeyToMacText(key), mac);
}

void TestElementRecords::macTextToKey_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("key");
    QTest::newRow("lower") << "00:a0:c9:f8:1e:24"
                           << "00A0C9F81E24";
    QTest::newRow("other separators kept") << "00-a0-c9-f8-1e-24"
                                           << "00-A0-C9-F8-1E-24";
    QTest::newRow("colons anywhere") << "::00a0c9f81e24:::"
                                     << "00A0C9F81E24";
    QTest::newRow("16 chars") << "00:A0:C9:F8:1E:2"
                              << "";
    QTest::newRow("sharp s") << QString::fromLatin1("00:a0:c9:f8:1e:\xdf"
                                                    "4")
                             << QString::fromLatin1("00A0C9F81E\xdf"
                                                    "4");
    QTest::newRow("18 chars") << "00:A0:C9:F8:1E:245"
                              << "";
    QTest::newRow("unknown caption") << "<Unknown>"
                                     << "";
}

void TestElementRecords::macTextToKey()
{
    QFETCH(QString, mac);
    QFETCH(QString, key);
    QCOMPARE(MacTextToKey(mac), key);
}

void TestElementRecords::roundTripGivesTheKeyUpperCase()
{
    for (const QString& key : {QString("00a0c9f81e24"), QString("FFFFFFFFFFFF"), QString("0123456789ab")})
        QCOMPARE(MacTextToKey(KeyToMacText(key)), key.toUpper());
}

QTEST_GUILESS_MAIN(TestElementRecords)
#include "tst_elementrecords.moc"
