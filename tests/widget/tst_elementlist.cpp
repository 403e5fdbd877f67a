// Load_Config: the element selector built from the database file.

#include <QtTest>

#include "database/ElementList.h"
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

QStringList Entries(const QComboBox* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

} // namespace

class TestElementList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsFollowFileOrderWithCount();
    void emptyDatabaseMessagesDifferByTheWord();
    void oddSectionsStillListed();
    void everyElementListedBeyondFiftySeven();
    void reselectsTheElementShownBefore();
    void noSelectionWhenNothingWasShownOrItIsGone();
    void emptyCaptionSelectsTheFirstEntry();
};

void TestElementList::listsFollowFileOrderWithCount()
{
    ConsoleFixture console;
    WriteFile(console.database(),
              "[00A0C9F81E24]\nNAME=STUDIO TX       \nIP=10.0.0.1\n"
              "[00000000000C]\nNAME=C\n"
              "[00000000000B]\nNAME=B\n");
    console->Load_Config();
    QCOMPARE(console->lstHidden, (QStringList {"00A0C9F81E24", "00000000000C", "00000000000B"}));
    QCOMPARE(Entries(console->lstElements),
             (QStringList {"STUDIO TX [00:A0:C9:F8:1E:24]", "C [00:00:00:00:00:0C]", "B [00:00:00:00:00:0B]"}));
    QCOMPARE(console->lblElementsList->caption(), QStringLiteral("Select element: (3 items)"));
    QCOMPARE(console->lstElements->currentIndex(), -1); // nothing picked by filling the list
    QCOMPARE(console.boxes.count(), 0);

    WriteFile(console.database(), "[00000000000C]\nNAME=C\n");
    console->Load_Config();
    QCOMPARE(console->lblElementsList->caption(), QStringLiteral("Select element: (1 items)"));
    QCOMPARE(console->lstHidden, QStringList {"00000000000C"});
}

void TestElementList::emptyDatabaseMessagesDifferByTheWord()
{
    ConsoleFixture console;
    WriteFile(console.database(), "[00000000000C]\nNAME=C\n");
    console->Load_Config();
    QFile::remove(console.database());
    console->Load_Config();
    QCOMPARE(console->lstElements->count(), 0);
    QVERIFY(console->lstHidden.isEmpty());
    QCOMPARE(console->lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
    QCOMPARE(console.boxes.count(), 1);
    QCOMPARE(console.boxes.shown[0].title, QStringLiteral("Information"));
    QCOMPARE(console.boxes.shown[0].icon, MsgIcon::Information);
    QVERIFY(!console.boxes.shown[0].question);
    QCOMPARE(console.boxes.shown[0].text,
             QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."));

    WriteFile(console.database(), QByteArray());
    console->Load_Config();
    QCOMPARE(console.boxes.count(), 2);
    QCOMPARE(console.boxes.shown[1].title, QStringLiteral("Information"));
    QCOMPARE(console.boxes.shown[1].text,
             QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network."));
    QCOMPARE(console->lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
}

void TestElementList::oddSectionsStillListed()
{
    ConsoleFixture console;
    WriteFile(console.database(), "[00000000000A]\nIP=1.2.3.4\n[SHORT]\nNAME=ODD\n");
    console->Load_Config();
    QCOMPARE(Entries(console->lstElements), (QStringList {" [00:00:00:00:00:0A]", "ODD []"}));
}

void TestElementList::everyElementListedBeyondFiftySeven()
{
    ConsoleFixture console;
    QByteArray content;
    for (int i = 0; i < 300; ++i)
        content += QStringLiteral("[%1]\nNAME=E%2\n").arg(i, 12, 16, QLatin1Char('0')).arg(i).toUpper().toLatin1();
    WriteFile(console.database(), content);
    console->Load_Config();
    QCOMPARE(console->lstElements->count(), 300);
    QCOMPARE(console->lstHidden.size(), 300);
    QCOMPARE(console->lstElements->itemText(299), QStringLiteral("E299 [00:00:00:00:01:2B]"));
    QCOMPARE(console->lblElementsList->caption(), QStringLiteral("Select element: (300 items)"));
}

void TestElementList::reselectsTheElementShownBefore()
{
    ConsoleFixture console;
    StoredElement a;
    StoredElement b;
    b.name = QStringLiteral("SECOND");
    b.ip = QStringLiteral("127.0.0.3");
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), a));
    QVERIFY(console.writeElement(QStringLiteral("0000000000B2"), b));
    QVERIFY(console.load());
    QVERIFY(console.select(QStringLiteral("0000000000B2")));
    console->txtElementIP->setText(QStringLiteral("1.1.1.1"));

    // The stored record changed behind the window: the reload shows the new value.
    b.ip = QStringLiteral("127.0.0.4");
    QVERIFY(console.writeElement(QStringLiteral("0000000000B2"), b));
    console->Load_Config();
    QCOMPARE(console->lstElements->currentIndex(), 1);
    QCOMPARE(console->txtElementIP->text(), QStringLiteral("127.0.0.4"));
    QCOMPARE(console->lblElementMAC->caption(), QStringLiteral("00:00:00:00:00:B2"));
}

void TestElementList::noSelectionWhenNothingWasShownOrItIsGone()
{
    ConsoleFixture console;
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), StoredElement()));
    QVERIFY(console.load());
    console->Load_Config();
    QCOMPARE(console->lstElements->currentIndex(), -1);
    QVERIFY(console->txtElementIP->text().isEmpty());

    console->lblElementMAC->setCaption(QStringLiteral("00:00:00:00:00:FF"));
    console->Load_Config();
    QCOMPARE(console->lstElements->currentIndex(), -1);
    // Load_Config never changes the MAC caption itself.
    QCOMPARE(console->lblElementMAC->caption(), QStringLiteral("00:00:00:00:00:FF"));
}

void TestElementList::emptyCaptionSelectsTheFirstEntry()
{
    ConsoleFixture console;
    StoredElement a;
    a.ip = QStringLiteral("127.0.0.9");
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), a));
    QVERIFY(console.writeElement(QStringLiteral("0000000000B2"), StoredElement()));
    QVERIFY(console.load());
    console->lblElementMAC->setCaption(QString());
    console->Load_Config();
    QCOMPARE(console->lstElements->currentIndex(), 0);
    QCOMPARE(console->txtElementIP->text(), QStringLiteral("127.0.0.9"));
}

QTEST_MAIN(TestElementList)
#include "tst_elementlist.moc"
