#include "link/Feedback.h"

#include <QtTest>

using namespace nms;

Q_DECLARE_METATYPE(nms::FeedbackCheck)

namespace {

// A well-formed encoder feedback; tests overwrite single bytes.
QByteArray Feedback(int length = 40)
{
    QByteArray datagram = QByteArray::fromHex("C0A8010A"
                                              "FFFFFF00"
                                              "C0A80101"
                                              "0A000001"
                                              "000101")
        + QByteArray("STUDIO A        ")
        + QByteArray::fromHex("01"
                              "0000002A");
    if (length > 40)
        datagram.append(char(0x80));
    return datagram;
}

void SetByte(QByteArray& datagram, int offset, int value)
{
    datagram[offset] = char(quint8(value));
}

} // namespace

class TestFeedback : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesEveryField();
    void keepsMacAndNameBlanks();
    void nameKeepsHighBytes();
    void serialNumber_data();
    void serialNumber();
    void attenuation_data();
    void attenuation();
    void shortDatagramChangesNothing();
    void validation_data();
    void validation();
    void messages_data();
    void messages();
};

void TestFeedback::parsesEveryField()
{
    const ElementFeedback fb = ParseFeedback(Feedback(), ElementFeedback {});
    QCOMPARE(fb.ElementIP, QStringLiteral("192.168.1.10"));
    QCOMPARE(fb.ElementMask, QStringLiteral("255.255.255.0"));
    QCOMPARE(fb.ElementGW, QStringLiteral("192.168.1.1"));
    QCOMPARE(fb.RemoteIP, QStringLiteral("10.0.0.1"));
    QCOMPARE(fb.AudioInput, quint8(0));
    QCOMPARE(fb.AudioType, quint8(1));
    QCOMPARE(fb.AudioTX, quint8(1));
    QCOMPARE(fb.Role, quint8(1));
    QCOMPARE(fb.SerialNumber, quint8(42));
    QVERIFY(!fb.SerialOverflow);
    QCOMPARE(ValidateFeedback(fb), FeedbackCheck::Ok);
}

void TestFeedback::keepsMacAndNameBlanks()
{
    ElementFeedback previous;
    previous.ElementMAC = QStringLiteral("00:11:22:AA:BB:CC");
    previous.ElementIP = QStringLiteral("1.1.1.1");
    const ElementFeedback fb = ParseFeedback(Feedback(), previous);
    QCOMPARE(fb.ElementMAC, previous.ElementMAC);
    QCOMPARE(fb.ElementIP, QStringLiteral("192.168.1.10"));
    QCOMPARE(fb.ElementName, QStringLiteral("STUDIO A        "));
}

void TestFeedback::nameKeepsHighBytes()
{
    QByteArray datagram = Feedback();
    SetByte(datagram, 19, 0xC4);
    SetByte(datagram, 34, 0x00);
    const ElementFeedback fb = ParseFeedback(datagram, ElementFeedback {});
    QCOMPARE(fb.ElementName.size(), 16);
    QCOMPARE(fb.ElementName.at(0).unicode(), char16_t(0xC4));
    QCOMPARE(fb.ElementName.at(15).unicode(), char16_t(0));
}

void TestFeedback::serialNumber_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("serial");
    QTest::addColumn<bool>("overflow");
    QTest::newRow("00 00 00 2A") << QByteArray::fromHex("0000002A") << 42 << false;
    QTest::newRow("00 00 00 07") << QByteArray::fromHex("00000007") << 7 << false;
    QTest::newRow("00 00 01 02") << QByteArray::fromHex("00000102") << 12 << false;
    QTest::newRow("00 00 02 00") << QByteArray::fromHex("00000200") << 20 << false;
    QTest::newRow("00 00 00 FF") << QByteArray::fromHex("000000FF") << 255 << false;
    QTest::newRow("00 00 19 05") << QByteArray::fromHex("00001905") << 255 << false;
    // A part of exactly 10 or 100 after a non-zero part keeps all its digits: "1" "10" is 110.
    QTest::newRow("00 00 01 0A joins 110") << QByteArray::fromHex("0000010A") << 110 << false;
    QTest::newRow("00 00 02 64 joins 2100") << QByteArray::fromHex("00000264") << 0 << true;
    QTest::newRow("00 00 00 64 is 100") << QByteArray::fromHex("00000064") << 100 << false;
    QTest::newRow("00 00 00 00") << QByteArray::fromHex("00000000") << 0 << false;
    QTest::newRow("00 00 19 06 joins 256") << QByteArray::fromHex("00001906") << 0 << true;
    QTest::newRow("00 00 01 FF joins 1255") << QByteArray::fromHex("000001FF") << 0 << true;
    QTest::newRow("01 00 00 00 joins 1000") << QByteArray::fromHex("01000000") << 0 << true;
    QTest::newRow("FF FF FF FF twelve digits") << QByteArray::fromHex("FFFFFFFF") << 0 << true;
    // 249108103169 is 58 * 2^32 + 1: held in 32 bits it would pass as serial 1.
    QTest::newRow("F9 6C 67 A9 wraps in 32 bits") << QByteArray::fromHex("F96C67A9") << 0 << true;
}

void TestFeedback::serialNumber()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, serial);
    QFETCH(bool, overflow);
    QByteArray datagram = Feedback();
    datagram.replace(36, 4, bytes);
    const ElementFeedback fb = ParseFeedback(datagram, ElementFeedback {});
    QCOMPARE(int(fb.SerialNumber), serial);
    QCOMPARE(fb.SerialOverflow, overflow);
    const bool rejected = serial == 0;
    QCOMPARE(ValidateFeedback(fb) == FeedbackCheck::SerialNumber, rejected);
}

void TestFeedback::attenuation_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expected");
    // Byte 40, when present, is 0x80; the previous attenuation is 200.
    QTest::newRow("decoder, 40 bytes") << 2 << 40 << 255;
    QTest::newRow("decoder, 41 bytes") << 2 << 41 << 0x80;
    QTest::newRow("encoder, 41 bytes ignores byte 40") << 1 << 41 << 200;
    QTest::newRow("encoder, 40 bytes") << 1 << 40 << 200;
    QTest::newRow("no role, 41 bytes") << 0 << 41 << 200;
    QTest::newRow("invalid role, 41 bytes") << 3 << 41 << 200;
}

void TestFeedback::attenuation()
{
    QFETCH(int, role);
    QFETCH(int, length);
    QFETCH(int, expected);
    QByteArray datagram = Feedback(length);
    SetByte(datagram, 35, role);
    ElementFeedback previous;
    previous.Attenuation = 200;
    const ElementFeedback fb = ParseFeedback(datagram, previous);
    QCOMPARE(int(fb.Role), role);
    QCOMPARE(int(fb.Attenuation), expected);
}

void TestFeedback::shortDatagramChangesNothing()
{
    ElementFeedback previous;
    previous.ElementIP = QStringLiteral("1.2.3.4");
    previous.SerialNumber = 9;
    const ElementFeedback fb = ParseFeedback(Feedback().left(39), previous);
    QCOMPARE(fb.ElementIP, previous.ElementIP);
    QCOMPARE(fb.SerialNumber, previous.SerialNumber);
}

void TestFeedback::validation_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gw");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("tx");
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("serial");
    QTest::addColumn<FeedbackCheck>("result");
    const QString ok = QStringLiteral("10.0.0.1");
    const QString bad = QStringLiteral("10.0.0");
    QTest::newRow("all good") << ok << ok << ok << ok << 1 << 1 << 1 << 2 << 255 << FeedbackCheck::Ok;
    QTest::newRow("role 0 is fine") << ok << ok << ok << ok << 0 << 0 << 0 << 0 << 1 << FeedbackCheck::Ok;
    QTest::newRow("ip") << bad << ok << ok << ok << 0 << 0 << 0 << 1 << 1 << FeedbackCheck::ElementIP;
    QTest::newRow("mask") << ok << bad << ok << ok << 0 << 0 << 0 << 1 << 1 << FeedbackCheck::ElementMask;
    QTest::newRow("gw") << ok << ok << bad << ok << 0 << 0 << 0 << 1 << 1 << FeedbackCheck::ElementGW;
    QTest::newRow("remote") << ok << ok << ok << bad << 0 << 0 << 0 << 1 << 1 << FeedbackCheck::RemoteIP;
    QTest::newRow("input") << ok << ok << ok << ok << 2 << 0 << 0 << 1 << 1 << FeedbackCheck::AudioInput;
    QTest::newRow("type") << ok << ok << ok << ok << 0 << 2 << 0 << 1 << 1 << FeedbackCheck::AudioType;
    QTest::newRow("tx") << ok << ok << ok << ok << 0 << 0 << 255 << 1 << 1 << FeedbackCheck::TxType;
    QTest::newRow("role 3") << ok << ok << ok << ok << 0 << 0 << 0 << 3 << 1 << FeedbackCheck::ElementType;
    QTest::newRow("serial 0") << ok << ok << ok << ok << 0 << 0 << 0 << 1 << 0 << FeedbackCheck::SerialNumber;
    // Several faults: the earliest test in the order is the one reported.
    QTest::newRow("mask before tx and serial")
        << ok << bad << ok << ok << 0 << 0 << 7 << 1 << 0 << FeedbackCheck::ElementMask;
    QTest::newRow("remote before input") << ok << ok << ok << bad << 9 << 9 << 9 << 9 << 0 << FeedbackCheck::RemoteIP;
    QTest::newRow("type before role") << ok << ok << ok << ok << 1 << 5 << 1 << 4 << 0 << FeedbackCheck::AudioType;
    QTest::newRow("role before serial") << ok << ok << ok << ok << 1 << 1 << 1 << 3 << 0 << FeedbackCheck::ElementType;
}

void TestFeedback::validation()
{
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(QString, gw);
    QFETCH(QString, remote);
    QFETCH(int, input);
    QFETCH(int, type);
    QFETCH(int, tx);
    QFETCH(int, role);
    QFETCH(int, serial);
    QFETCH(FeedbackCheck, result);
    ElementFeedback fb;
    fb.ElementIP = ip;
    fb.ElementMask = mask;
    fb.ElementGW = gw;
    fb.RemoteIP = remote;
    fb.AudioInput = quint8(input);
    fb.AudioType = quint8(type);
    fb.AudioTX = quint8(tx);
    fb.Role = quint8(role);
    fb.SerialNumber = quint8(serial);
    QCOMPARE(ValidateFeedback(fb), result);
}

void TestFeedback::messages_data()
{
    QTest::addColumn<FeedbackCheck>("check");
    QTest::addColumn<QString>("field");
    QTest::newRow("ip") << FeedbackCheck::ElementIP << QStringLiteral("Element IP");
    QTest::newRow("mask") << FeedbackCheck::ElementMask << QStringLiteral("Element Mask");
    QTest::newRow("gw") << FeedbackCheck::ElementGW << QStringLiteral("Element GW");
    QTest::newRow("remote") << FeedbackCheck::RemoteIP << QStringLiteral("Remote IP");
    QTest::newRow("input") << FeedbackCheck::AudioInput << QStringLiteral("Audio Input");
    QTest::newRow("type") << FeedbackCheck::AudioType << QStringLiteral("Audio Type");
    QTest::newRow("tx") << FeedbackCheck::TxType << QStringLiteral("TX Type");
    QTest::newRow("role") << FeedbackCheck::ElementType << QStringLiteral("Element Type");
    QTest::newRow("serial") << FeedbackCheck::SerialNumber << QStringLiteral("Serial Number");
}

void TestFeedback::messages()
{
    QFETCH(FeedbackCheck, check);
    QFETCH(QString, field);
    const QString expected = "An error occured while retrieving '" + field + "':\rFeedback is corrupted.";
    QCOMPARE(FeedbackCheckMessage(check), expected);
}

QTEST_APPLESS_MAIN(TestFeedback)
#include "tst_feedback.moc"
