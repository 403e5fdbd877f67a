#include "audio/AttenuationText.h"
#include "audio/LevelMeter.h"

#include <QtTest>

using namespace nms;

namespace {

constexpr int Samples = 480;

// A 1440-byte LevelSamples of zeros with the given triples placed at sample positions.
QByteArray Datagram(const QList<QPair<int, QByteArray>>& placed, char fill = 0)
{
    QByteArray datagram(Samples * 3, fill);
    for (const auto& [index, triple] : placed)
        datagram.replace(index * 3, 3, triple);
    return datagram;
}

QByteArray Triple(const char* hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

class TestLevelMeter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void level_data();
    void level();
    void silence_data();
    void silence();
    void captionUsesLocaleSeparator();
    void attenuationCaption_data();
    void attenuationCaption();
    void attenuationCaptionNoGroupSeparator();
};

void TestLevelMeter::level_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<uint>("peak");
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<QString>("caption");

    QTest::newRow("full scale 7F FF FF") << Datagram({{10, Triple("7FFFFF")}}) << 8388607u << 2100 << 140
                                         << QStringLiteral("0dB");
    QTest::newRow("80 00 00 is full scale")
        << Datagram({{0, Triple("800000")}}) << 8388607u << 2100 << 140 << QStringLiteral("0dB");
    QTest::newRow("half scale 40 00 00") << Datagram({{478, Triple("400000")}}) << 4194304u << 1050 << 70
                                         << QStringLiteral("-27.7dB");
    QTest::newRow("negative C0 00 00") << Datagram({{3, Triple("C00000")}}) << 4194303u << 1050 << 70
                                       << QStringLiteral("-27.7dB");
    // 262.5 and 787.5 twips: halves go to the even neighbour.
    QTest::newRow("10 00 00 rounds down to even")
        << Datagram({{7, Triple("100000")}}) << 1048576u << 262 << 17 << QStringLiteral("-83.2dB");
    QTest::newRow("30 00 00 rounds up to even")
        << Datagram({{7, Triple("300000")}}) << 3145728u << 788 << 53 << QStringLiteral("-39.2dB");
    QTest::newRow("whole decibels drop the decimal")
        << Datagram({{1, Triple("2F16B3")}}) << 3086003u << 773 << 52 << QStringLiteral("-40dB");
    QTest::newRow("smallest peak: no bar but a number")
        << Datagram({{0, Triple("000001")}}) << 1u << 0 << 0 << QStringLiteral("-637.7dB");
    QTest::newRow("-610.0 prints as -610")
        << Datagram({{0, Triple("000002")}}) << 2u << 0 << 0 << QStringLiteral("-610dB");
    QTest::newRow("largest triple wins, not the last")
        << Datagram({{2, Triple("400000")}, {9, Triple("100000")}, {300, Triple("FF0000")}}) << 4194304u << 1050 << 70
        << QStringLiteral("-27.7dB");
    QTest::newRow("04 04 05 is not silence")
        << Datagram({{4, Triple("040405")}}) << 263173u << 66 << 4 << QStringLiteral("-138.5dB");
    QTest::newRow("loud last triple ignored") << Datagram({{100, Triple("100000")}, {479, Triple("7FFFFF")}})
                                              << 1048576u << 262 << 17 << QStringLiteral("-83.2dB");
}

void TestLevelMeter::level()
{
    QFETCH(QByteArray, datagram);
    QFETCH(uint, peak);
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QFETCH(QString, caption);
    const AudioLevel level = ComputeAudioLevel(datagram, QLocale::c());
    QCOMPARE(level.peak, peak);
    QCOMPARE(level.widthTwips, twips);
    QCOMPARE(level.widthPixels, pixels);
    QCOMPARE(level.caption, caption);
}

void TestLevelMeter::silence_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("zeros") << Datagram({});
    QTest::newRow("FF FF FF is magnitude 0") << Datagram({}, char(0xFF));
    QTest::newRow("04 04 04 padding") << Datagram({}, char(0x04));
    QTest::newRow("FB FB FB padding") << Datagram({}, char(0xFB));
    QTest::newRow("mixed padding") << Datagram({{1, Triple("040404")}, {2, Triple("FBFBFB")}});
    QTest::newRow("only the last triple is loud") << Datagram({{479, Triple("7FFFFF")}});
}

void TestLevelMeter::silence()
{
    QFETCH(QByteArray, datagram);
    const AudioLevel level = ComputeAudioLevel(datagram, QLocale::c());
    QCOMPARE(level.peak, 0u);
    QCOMPARE(level.widthTwips, 0);
    QCOMPARE(level.widthPixels, 0);
    QCOMPARE(level.caption, QStringLiteral("-oo dB"));
}

void TestLevelMeter::captionUsesLocaleSeparator()
{
    const QLocale german(QLocale::German, QLocale::Germany);
    QCOMPARE(ComputeAudioLevel(Datagram({{0, Triple("400000")}}), german).caption, QStringLiteral("-27,7dB"));
    QCOMPARE(ComputeAudioLevel(Datagram({{0, Triple("7FFFFF")}}), german).caption, QStringLiteral("0dB"));
}

void TestLevelMeter::attenuationCaption_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("caption");
    QTest::newRow("14 is mute") << 14 << QStringLiteral("Mute");
    QTest::newRow("15") << 15 << QStringLiteral("-120 dB");
    QTest::newRow("16") << 16 << QStringLiteral("-119.5 dB");
    QTest::newRow("200") << 200 << QStringLiteral("-27.5 dB");
    QTest::newRow("254") << 254 << QStringLiteral("-0.5 dB");
    QTest::newRow("255") << 255 << QStringLiteral("0 dB");
}

void TestLevelMeter::attenuationCaption()
{
    QFETCH(int, value);
    QFETCH(QString, caption);
    QCOMPARE(AttenuationCaption(value, 14, QLocale::c()), caption);
}

void TestLevelMeter::attenuationCaptionNoGroupSeparator()
{
    const QLocale german(QLocale::German, QLocale::Germany);
    QCOMPARE(AttenuationCaption(254, 14, german), QStringLiteral("-0,5 dB"));
    QCOMPARE(AttenuationCaption(15, 14, german), QStringLiteral("-120 dB"));
    // Far below the slider's range the number still carries no thousands separator.
    QCOMPARE(AttenuationCaption(-2000, 14, QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("-1127.5 dB"));
    QCOMPARE(AttenuationCaption(-2000, -2000, german), QStringLiteral("Mute"));
}

QTEST_APPLESS_MAIN(TestLevelMeter)
#include "tst_levelmeter.moc"
