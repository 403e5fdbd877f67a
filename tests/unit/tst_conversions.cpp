// Dotted-quad splitting and checking, the byte value of a part, the address every user of an
// address reads from the same text, and the fitted name.
#include "base/AddressText.h"
#include "base/Csv.h"
#include "link/Datagrams.h"

#include <QTest>
#include <QtEndian>

using namespace nms;

class TestConversions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitDotted();
    void isDottedQuad_data();
    void isDottedQuad();
    void partsThatPassConvertToTheirNumber();
    void fitElementName_data();
    void fitElementName();
    void csvField_data();
    void csvField();
};

void TestConversions::splitDotted()
{
    QCOMPARE(SplitDotted(""), QStringList());
    QCOMPARE(SplitDotted("10.0.0.1"), QStringList({"10", "0", "0", "1"}));
    QCOMPARE(SplitDotted("1..2."), QStringList({"1", "", "2", ""}));
    QCOMPARE(SplitDotted("abc"), QStringList({"abc"}));
}

void TestConversions::isDottedQuad_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "10.0.0.1" << true;
    QTest::newRow("leading zeros") << "010.000.000.001" << true;
    QTest::newRow("max") << "255.255.255.255" << true;
    QTest::newRow("leading blank") << " 10.0.0.1" << true;
    QTest::newRow("blanks and tabs around parts") << "10 .\t0. 0 .1\t" << true;
    QTest::newRow("many leading zeros") << "0000000000000000000001.2.3.4" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("three parts") << "1.2.3" << false;
    QTest::newRow("five parts") << "1.2.3.4.5" << false;
    QTest::newRow("trailing dot") << "1.2.3.4." << false;
    QTest::newRow("empty part") << "1..2.3" << false;
    QTest::newRow("blank part") << "1. .2.3" << false;
    QTest::newRow("256") << "256.1.1.1" << false;
    QTest::newRow("huge") << "99999999999999999999.1.1.1" << false;
    QTest::newRow("letters") << "a.b.c.d" << false;
    QTest::newRow("plus sign") << "+1.2.3.4" << false;
    QTest::newRow("minus sign") << "-1.2.3.4" << false;
    QTest::newRow("hex") << "0x1.2.3.4" << false;
    QTest::newRow("exponent") << "1e2.2.3.4" << false;
    QTest::newRow("inner blank") << "1 0.2.3.4" << false;
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("\u0661.2.3.4") << false;
    QTest::newRow("fullwidth digit") << QString::fromUtf8("\uFF11.2.3.4") << false;
    // Blanks are spaces and tabs only: no reader may take a line end for one.
    QTest::newRow("line end after") << "10.0.0.1\n" << false;
    QTest::newRow("vertical tab before") << "\v10.0.0.1" << false;
}

void TestConversions::isDottedQuad()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsDottedQuad(text), valid);
    // The address the probe, the lookup and the senders use is read by the same rule.
    bool ok = !valid;
    const quint32 address = Ipv4FromDottedText(text, &ok);
    QCOMPARE(ok, valid);
    if (!valid) {
        QCOMPARE(address, 0xFFFFFFFFu);
        return;
    }
    const QStringList parts = text.split(QLatin1Char('.'));
    const quint32 expected = (parts[0].trimmed().toUInt() << 24) | (parts[1].trimmed().toUInt() << 16)
        | (parts[2].trimmed().toUInt() << 8) | parts[3].trimmed().toUInt();
    QCOMPARE(qFromBigEndian(address), expected);
}

void TestConversions::partsThatPassConvertToTheirNumber()
{
    for (int n = 0; n <= 255; ++n) {
        for (const QString& part : {QString::number(n), QString("00%1").arg(n), QString(" \t%1 ").arg(n)}) {
            quint8 value = 0;
            QVERIFY2(DottedPartToByte(part, &value), qPrintable(part));
            QCOMPARE(int(value), n);
            QVERIFY(IsDottedQuad(part + ".1.1.1"));
        }
    }
    quint8 untouched = 7;
    for (const char* part : {"", " ", "256", "+1", "1a", "-0"}) {
        QVERIFY2(!DottedPartToByte(part, &untouched), part);
        QCOMPARE(untouched, quint8(7));
    }
}

void TestConversions::fitElementName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fitted");
    QTest::newRow("short") << "studio"
                           << "STUDIO          ";
    QTest::newRow("20 chars") << "abcdefghijklmnopqrst"
                              << "ABCDEFGHIJKLMNOP";
    QTest::newRow("empty") << "" << QString(16, ' ');
    QTest::newRow("exact") << "Studio Tx 123456"
                           << "STUDIO TX 123456";
    QTest::newRow("keeps inner and leading blanks") << " a b"
                                                    << " A B            ";
    QTest::newRow("latin-1 letters") << QString::fromUtf8("zürich") << QString::fromUtf8("ZÜRICH          ");
    QTest::newRow("sharp s grows when upper-cased") << QString(16, QChar(0xDF)) << QString(16, 'S');
}

void TestConversions::fitElementName()
{
    QFETCH(QString, text);
    QFETCH(QString, fitted);
    const QString result = FitElementName(text);
    QCOMPARE(result, fitted);
    QCOMPARE(result.size(), 16);
}

void TestConversions::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "SITE RX"
                           << "SITE RX";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("comma") << "TX 1, studio"
                           << "\"TX 1, studio\"";
    QTest::newRow("quote doubled") << "the \"A\" feed"
                                   << "\"the \"\"A\"\" feed\"";
    QTest::newRow("only a quote") << "\""
                                  << "\"\"\"\"";
    QTest::newRow("line feed") << "a\nb"
                               << "\"a\nb\"";
    QTest::newRow("carriage return") << "a\rb"
                                     << "\"a\rb\"";
    QTest::newRow("blanks kept") << " x "
                                 << " x ";
}

void TestConversions::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(CsvField(text), field);
    QCOMPARE(CsvLine({text, text}), field + u',' + field + QStringLiteral("\r\n"));
}

QTEST_GUILESS_MAIN(TestConversions)
#include "tst_conversions.moc"
