// Load_Config: the element list built from the database in file order with its count, the two
// empty-database notices, and the element shown before picked again after a reload.

#include <QtTest>

#include "console/ElementListPanel.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray ManySections(int count)
{
    QByteArray content;
    for (int i = 0; i < count; ++i)
        content += QStringLiteral("[%1]\nNAME=E%2\n").arg(i, 12, 16, QLatin1Char('0')).arg(i).toUpper().toLatin1();
    return content;
}

} // namespace

class TestElementList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everySectionListedInFileOrder_data();
    void everySectionListedInFileOrder();
    void emptyDatabaseNotices_data();
    void emptyDatabaseNotices();
    void reloadPicksTheElementShownBefore_data();
    void reloadPicksTheElementShownBefore();
};

void TestElementList::everySectionListedInFileOrder_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("keys"); // the first ones
    QTest::addColumn<QStringList>("texts"); // the first ones
    QTest::addColumn<int>("count");
    QTest::newRow("file order") << QByteArray(
        "[00A0C9F81E24]\nNAME=STUDIO TX       \nIP=10.0.0.1\n[00000000000C]\nNAME=C\n[00000000000B]\nNAME=B\n")
                                << QStringList {"00A0C9F81E24", "00000000000C", "00000000000B"}
                                << QStringList {"STUDIO TX [00:A0:C9:F8:1E:24]", "C [00:00:00:00:00:0C]",
                                                "B [00:00:00:00:00:0B]"}
                                << 3;
    QTest::newRow("no name, key not a MAC")
        << QByteArray("[00000000000A]\nIP=1.2.3.4\n[SHORT]\nNAME=ODD\n") << QStringList {"00000000000A", "SHORT"}
        << QStringList {" [00:00:00:00:00:0A]", "ODD []"} << 2;
    QTest::newRow("three hundred") << ManySections(300) << QStringList {"000000000000"}
                                   << QStringList {"E0 [00:00:00:00:00:00]"} << 300;
}

void TestElementList::everySectionListedInFileOrder()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, texts);
    QFETCH(int, count);
    ConsoleFixture f;
    WriteFile(f.database(), content);
    f->Load_Config();
    QCOMPARE(f->elementList->lstHidden().size(), count);
    QCOMPARE(f->lstElements->count(), count);
    QCOMPARE(f->elementList->lstHidden().mid(0, keys.size()), keys);
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(f->lstElements->itemText(i), texts.at(i));
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (%1 items)").arg(count));
    QCOMPARE(f->lstElements->currentIndex(), -1); // filling the list picks nothing
    f.showNotices();
    QCOMPARE(f.boxes.count(), 0);
}

void TestElementList::emptyDatabaseNotices_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("text");
    QTest::newRow("no file") << false
                             << "Local database is empty.\rPlease click 'Auto Discover' icon to probe the network.";
    QTest::newRow("no section")
        << true << "Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network.";
}

void TestElementList::emptyDatabaseNotices()
{
    QFETCH(bool, fileExists);
    QFETCH(QString, text);
    ConsoleFixture f;
    WriteFile(f.database(), "[00000000000C]\nNAME=C\n");
    f->Load_Config();
    QCOMPARE(f->lstElements->count(), 1);
    if (fileExists)
        WriteFile(f.database(), "; nothing but a comment\n");
    else
        QVERIFY(QFile::remove(f.database()));

    f->Load_Config();
    QCOMPARE(f->elementList->lstHidden(), QStringList());
    QCOMPARE(f->lstElements->count(), 0);
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
    f.showNotices();
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown[0].title, QStringLiteral("Information"));
    QCOMPARE(f.boxes.shown[0].icon, MsgIcon::Information);
    QVERIFY(!f.boxes.shown[0].question);
    QCOMPARE(f.boxes.shown[0].text, text);
}

void TestElementList::reloadPicksTheElementShownBefore_data()
{
    QTest::addColumn<QString>("shown"); // empty: nothing shown
    QTest::addColumn<bool>("removed"); // its section is gone by the reload
    QTest::addColumn<int>("picked");
    QTest::addColumn<QString>("ip"); // in the editor after the reload
    QTest::newRow("the element shown, as stored now") << "0000000000B2" << false << 1 << "127.0.0.4";
    QTest::newRow("nothing shown") << "" << false << -1 << "";
    QTest::newRow("the element shown is gone") << "0000000000B2" << true << -1 << "edited";
    // Found by its key: a key that is no MAC address has no MAC text, which every entry's text
    // contains, yet its own entry is the one picked.
    QTest::newRow("a key that is no MAC") << "SHORT" << false << 2 << "127.0.0.1";
}

void TestElementList::reloadPicksTheElementShownBefore()
{
    QFETCH(QString, shown);
    QFETCH(bool, removed);
    QFETCH(int, picked);
    QFETCH(QString, ip);
    ConsoleFixture f;
    StoredElement a;
    a.ip = QStringLiteral("127.0.0.9");
    StoredElement b;
    b.name = QStringLiteral("SECOND");
    b.ip = QStringLiteral("127.0.0.3");
    QVERIFY(f.writeElement(QStringLiteral("0000000000A1"), a));
    QVERIFY(f.writeElement(QStringLiteral("0000000000B2"), b));
    QVERIFY(f.writeElement(QStringLiteral("SHORT"), StoredElement {}));
    QVERIFY(f.load());
    if (!shown.isEmpty()) {
        QVERIFY(f.select(shown));
        f->txtElementIP->setText(QStringLiteral("edited"));
    }
    // The stored record changed behind the window.
    b.ip = QStringLiteral("127.0.0.4");
    QVERIFY(f.writeElement(QStringLiteral("0000000000B2"), b));
    if (removed)
        QVERIFY(DeleteIniSection(shown, f.database()));

    f->Load_Config();
    QCOMPARE(f->lstElements->currentIndex(), picked);
    QCOMPARE(f.core().state.selectedKey(), picked >= 0 ? f->elementList->lstHidden().at(picked) : removed ? shown : "");
    QCOMPARE(f->txtElementIP->text(), ip);
}

QTEST_MAIN(TestElementList)
#include "tst_elementlist.moc"
