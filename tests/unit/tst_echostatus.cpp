#include "services/EchoStatus.h"

#include <QtTest>

using namespace nms;

class TestEchoStatus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void text_data();
    void text();
};

void TestEchoStatus::text_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    const QList<QPair<int, const char*>> table = {
        {0, "Success!"},
        {11001, "Buffer Too Small"},
        {11002, "Destination Net Unreachable"},
        {11003, "Destination Host Unreachable"},
        {11004, "Destination Protocol Unreachable"},
        {11005, "Destination Port Unreachable"},
        {11006, "No Resources"},
        {11007, "Bad Option"},
        {11008, "Hardware Error"},
        {11009, "Packet Too Big"},
        {11010, "Request Timed Out"},
        {11011, "Bad Request"},
        {11012, "Bad Route"},
        {11013, "TimeToLive Expired Transit"},
        {11014, "TimeToLive Expired Reassembly"},
        {11015, "Parameter Problem"},
        {11016, "Source Quench"},
        {11017, "Option Too Big"},
        {11018, "Bad Destination"},
        {11032, "Negotiating IPSEC"},
        {11050, "General Failure"},
        // Codes outside the table, the unusable-address code among them.
        {-1, "Unknown Response"},
        {11000, "Unknown Response"},
        {11019, "Unknown Response"},
        {11025, "Unknown Response"},
        {11033, "Unknown Response"},
        {11051, "Unknown Response"},
    };
    for (const auto& [status, text] : table)
        QTest::addRow("%d", status) << status << QString::fromLatin1(text);
}

void TestEchoStatus::text()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QCOMPARE(EchoStatusText(status), text);
}

QTEST_APPLESS_MAIN(TestEchoStatus)
#include "tst_echostatus.moc"
