#include "base/AddressText.h"
#include "link/Datagrams.h"

#include <QtTest>

using namespace nms;

Q_DECLARE_METATYPE(nms::DatagramKind)

class TestDatagrams : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pagingRequestIsTheFixedText();
    void configWriteLayout_data();
    void configWriteLayout();
    void configWriteAddresses();
    void configWriteName_data();
    void configWriteName();
    void attenuationCommand_data();
    void attenuationCommand();
    void levelQuery();
    void addressBytesToText_data();
    void addressBytesToText();
    void classifyByLength_data();
    void classifyByLength();
};

void TestDatagrams::pagingRequestIsTheFixedText()
{
    const QByteArray request = PagingRequest();
    QCOMPARE(request.size(), PagingRequestLength);
    QCOMPARE(request, QByteArray("DIZEZIZI KESTRION PAGING REQUEST"));
}

void TestDatagrams::configWriteLayout_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("tx");
    QTest::addColumn<QByteArray>("selectors");
    QTest::newRow("digital, left/right, unicast") << 0 << 0 << 0 << QByteArray::fromHex("000000");
    QTest::newRow("analog, MPX, multicast") << 1 << 1 << 1 << QByteArray::fromHex("010101");
    // Each selector in its own byte: input, then type, then TX.
    QTest::newRow("analog only") << 1 << 0 << 0 << QByteArray::fromHex("010000");
    QTest::newRow("MPX only") << 0 << 1 << 0 << QByteArray::fromHex("000100");
    QTest::newRow("multicast only") << 0 << 0 << 1 << QByteArray::fromHex("000001");
}

void TestDatagrams::configWriteLayout()
{
    QFETCH(int, input);
    QFETCH(int, type);
    QFETCH(int, tx);
    QFETCH(QByteArray, selectors);

    const ConfigFields fields {QStringLiteral("192.168.1.10"),
                               QStringLiteral("255.255.255.0"),
                               QStringLiteral("192.168.1.1"),
                               QStringLiteral("10.0.0.1"),
                               input,
                               type,
                               tx,
                               QStringLiteral("studio a")};
    const QByteArray expected = QByteArray::fromHex("C0A8010A"
                                                    "FFFFFF00"
                                                    "C0A80101"
                                                    "0A000001")
        + selectors + QByteArray("STUDIO A        ");
    const QByteArray datagram = BuildConfigWrite(fields);
    QCOMPARE(datagram.size(), ConfigWriteLength);
    QCOMPARE(datagram.toHex(' '), expected.toHex(' '));
}

void TestDatagrams::configWriteAddresses()
{
    // Leading zeros and a surrounding blank pass the dotted-quad check, so they must encode too.
    const ConfigFields fields {QStringLiteral("010.000.000.001"),
                               QStringLiteral("0.0.0.0"),
                               QStringLiteral(" 255.255.255.255"),
                               QStringLiteral("1.2.3.4"),
                               0,
                               0,
                               0,
                               QString()};
    const QByteArray datagram = BuildConfigWrite(fields);
    QCOMPARE(datagram.left(16).toHex(' '),
             QByteArray::fromHex("0A000001"
                                 "00000000"
                                 "FFFFFFFF"
                                 "01020304")
                 .toHex(' '));
}

void TestDatagrams::configWriteName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("short, padded") << QStringLiteral("studio a") << QByteArray("STUDIO A        ");
    QTest::newRow("empty") << QString() << QByteArray(16, ' ');
    QTest::newRow("twenty chars, cut") << QStringLiteral("transmitter north 01") << QByteArray("TRANSMITTER NORT");
    QTest::newRow("exactly sixteen") << QStringLiteral("ABCDEFGHIJKLMNOP") << QByteArray("ABCDEFGHIJKLMNOP");
    // A character beyond 8 bits travels as the low byte of its code: U+0141 gives 0x41.
    QTest::newRow("wide character") << QString(QChar(0x0141)) << QByteArray("A") + QByteArray(15, ' ');
}

void TestDatagrams::configWriteName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    ConfigFields fields {QStringLiteral("1.1.1.1"),
                         QStringLiteral("1.1.1.1"),
                         QStringLiteral("1.1.1.1"),
                         QStringLiteral("1.1.1.1"),
                         0,
                         0,
                         0,
                         name};
    const QByteArray datagram = BuildConfigWrite(fields);
    QCOMPARE(datagram.size(), ConfigWriteLength);
    QCOMPARE(datagram.mid(19), bytes);
}

void TestDatagrams::attenuationCommand_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("mute") << 14 << QByteArray::fromHex("0E00");
    QTest::newRow("0 dB") << 255 << QByteArray::fromHex("FF00");
    QTest::newRow("-0.5 dB") << 254 << QByteArray::fromHex("FE00");
}

void TestDatagrams::attenuationCommand()
{
    QFETCH(int, code);
    QFETCH(QByteArray, bytes);
    QCOMPARE(BuildAttenuationCommand(quint8(code)).toHex(' '), bytes.toHex(' '));
}

void TestDatagrams::levelQuery()
{
    QCOMPARE(LevelQuery().toHex(' '), QByteArray("56 4f 4c"));
}

void TestDatagrams::addressBytesToText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("private") << QByteArray::fromHex("C0A8010A") << QStringLiteral("192.168.1.10");
    QTest::newRow("zeros") << QByteArray::fromHex("00000000") << QStringLiteral("0.0.0.0");
    QTest::newRow("all ones") << QByteArray::fromHex("FFFFFFFF") << QStringLiteral("255.255.255.255");
    QTest::newRow("no leading zeros") << QByteArray::fromHex("0A006409") << QStringLiteral("10.0.100.9");
}

void TestDatagrams::addressBytesToText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(AddressBytesToText(reinterpret_cast<const quint8*>(bytes.constData())), text);
}

void TestDatagrams::classifyByLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<DatagramKind>("kind");
    QTest::newRow("0") << 0 << DatagramKind::Dropped;
    QTest::newRow("2") << 2 << DatagramKind::Dropped;
    QTest::newRow("3") << 3 << DatagramKind::ShortReply;
    QTest::newRow("4") << 4 << DatagramKind::Dropped;
    QTest::newRow("39") << 39 << DatagramKind::Dropped;
    QTest::newRow("40") << 40 << DatagramKind::Feedback;
    QTest::newRow("41") << 41 << DatagramKind::Feedback;
    QTest::newRow("42") << 42 << DatagramKind::Dropped;
    QTest::newRow("1439") << 1439 << DatagramKind::Dropped;
    QTest::newRow("1440") << 1440 << DatagramKind::LevelSamples;
    QTest::newRow("1441") << 1441 << DatagramKind::Dropped;
    QTest::newRow("2000") << 2000 << DatagramKind::Dropped;
}

void TestDatagrams::classifyByLength()
{
    QFETCH(int, length);
    QFETCH(DatagramKind, kind);
    QCOMPARE(ClassifyDatagram(length), kind);
}

QTEST_APPLESS_MAIN(TestDatagrams)
#include "tst_datagrams.moc"
