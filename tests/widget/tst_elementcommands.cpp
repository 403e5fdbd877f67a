// The pop-up menu's Manual add and Delete through the window: the address asked for, the paging
// window while the element is asked, the element listed and shown once it answered; the delete
// confirmed with the element's name and MAC, offered only while an element is shown.

#include <QFile>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "console/ElementCommands.h"
#include "console/ElementListPanel.h"
#include "console/FrmPaging.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("02000000010A");
const QString kMac = QStringLiteral("02:00:00:00:01:0A");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestElementCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manualAddListsAndShowsTheElement();
    void deleteAsksAndRemovesTheSection_data();
    void deleteAsksAndRemovesTheSection();
};

void TestElementCommands::manualAddListsAndShowsTheElement()
{
    ConsoleFixture f;
    StoredElement other;
    other.ip = QStringLiteral("127.0.0.9");
    QVERIFY(f.writeElement(QStringLiteral("0200000001FF"), other));
    QVERIFY(f.load());
    f.neighbours.add(QStringLiteral("127.0.0.1"), MacBytes(kMac));
    f.boxes.clear();
    f.boxes.setNextText(QStringLiteral(" 127.0.0.1 "));
    bool pagingShown = false;
    // The element answers once its paging request came in, while the paging window is open.
    connect(f.element, &LoopbackElement::datagramReceived, this, [&] {
        pagingShown = f->commands->waiting() && f->commands->waiting()->isVisible();
        FeedbackFields answer;
        answer.ip = QStringLiteral("127.0.0.1");
        answer.name = QByteArrayLiteral("ADDED BY HAND");
        f.element->sendToConsole(answer.bytes(), f.consolePort());
    });
    f->mnuAdd->trigger();

    QCOMPARE(f.boxes.count(), 1);
    QVERIFY(f.boxes.shown.at(0).question);
    QCOMPARE(f.element->receivedOn(f.environment().ports.paging),
             QList<QByteArray> {"DIZEZIZI KESTRION PAGING REQUEST"});
    QVERIFY(pagingShown);
    QVERIFY(!f->commands->waiting());
    // Added without giving up the other element; listed and shown.
    QCOMPARE(f->elementList->lstHidden(), QStringList({QStringLiteral("0200000001FF"), kKey}));
    QCOMPARE(f->lstElements->currentIndex(), 1);
    QCOMPARE(f->lblElementMAC->caption(), kMac);
    QCOMPARE(f->txtElementName->text(), QStringLiteral("ADDED BY HAND"));
    f.showNotices();
    QCOMPARE(f.boxes.count(), 1);
}

void TestElementCommands::deleteAsksAndRemovesTheSection_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("confirmed") << true;
    QTest::newRow("No, the default") << false;
}

void TestElementCommands::deleteAsksAndRemovesTheSection()
{
    QFETCH(bool, yes);
    ConsoleFixture f;
    StoredElement kept;
    kept.name = QStringLiteral("KEPT");
    QVERIFY(f.writeElement(QStringLiteral("0200000001FF"), kept));
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(!f->mnuDelete->isEnabled());
    QVERIFY(f.select(kKey));
    QVERIFY(f->mnuDelete->isEnabled());
    const QByteArray before = FileBytes(f.database());
    f.boxes.clear();
    f.boxes.setNextAnswer(yes ? MsgAnswer::Yes : MsgAnswer::No);

    f->mnuDelete->trigger();
    QCOMPARE(f.boxes.count(), 1);
    QVERIFY(f.boxes.shown.at(0).question);
    QVERIFY(f.boxes.shown.at(0).text.contains(QStringLiteral("STUDIO A [") + kMac + QLatin1Char(']')));
    if (!yes) {
        QCOMPARE(FileBytes(f.database()), before);
        QCOMPARE(f->lblElementMAC->caption(), kMac);
        return;
    }
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList {QStringLiteral("0200000001FF")});
    QCOMPARE(f->elementList->lstHidden(), QStringList {QStringLiteral("0200000001FF")});
    QCOMPARE(f->lblElementMAC->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(f->txtElementIP->text(), QString());
    QVERIFY(!f->mnuDelete->isEnabled());
}

QTEST_MAIN(TestElementCommands)
#include "tst_elementcommands.moc"
