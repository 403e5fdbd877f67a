// A unit swap from the window: Save configuration as writes the selected element's stored record
// to a file that reads back; Apply configuration from fills the editor (and a decoder's slider)
// from a kept configuration or a file and sends nothing; the editor's Save then sends it.

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "console/ApplyConfigurationDialog.h"
#include "console/ConfigurationCommands.h"
#include "console/EditorPanel.h"
#include "database/ProfileStore.h"
#include "session/SavedConfiguration.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

// The spare unit, selected, and the unit it replaces.
const QString kNew = QStringLiteral("02000000020A");
const QString kNewMac = QStringLiteral("02:00:00:00:02:0A");
const QString kOld = QStringLiteral("0200000001AA");
const QString kOther = QStringLiteral("0200000001BB");

StoredElement Spare(int role)
{
    return StoredElement {.role = role, .att = role == 2 ? 255 : -1};
}

ElementRecord Old(int role)
{
    ElementRecord r;
    r.key = kOld;
    r.name = QStringLiteral("OLD TX");
    r.ip = QStringLiteral("10.1.2.3");
    r.mask = QStringLiteral("255.255.255.0");
    r.gw = QStringLiteral("10.1.2.254");
    r.remote = QStringLiteral("10.9.8.7");
    r.input = QStringLiteral("1");
    r.type = QStringLiteral("0");
    r.tx = QStringLiteral("0");
    r.role = QString::number(role);
    r.sn = QStringLiteral("99");
    r.att = role == 2 ? QStringLiteral("120") : QString();
    return r;
}

QStringList EditorTexts(FrmMain& w)
{
    return {w.txtElementName->text(),
            w.txtElementIP->text(),
            w.txtElementMask->text(),
            w.txtElementGW->text(),
            w.txtRemoteIP->text(),
            QString::number(w.cmbAudioInput->currentIndex()),
            QString::number(w.cmbAudioType->currentIndex()),
            QString::number(w.cmbAudioTX->currentIndex()),
            w.lblElementMAC->caption(),
            w.lblSerialNumber->caption()};
}

const QStringList kOldInTheEditor = {
    QStringLiteral("OLD TX"),     QStringLiteral("10.1.2.3"), QStringLiteral("255.255.255.0"),
    QStringLiteral("10.1.2.254"), QStringLiteral("10.9.8.7"), QStringLiteral("1"),
    QStringLiteral("0"),          QStringLiteral("0"),        kNewMac,
    QStringLiteral("42")};

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// Opens Apply configuration from, lets `choose` work the dialog once it runs and gives back the
// captions it listed.
QStringList RunApply(ConsoleFixture& f, const std::function<void(ApplyConfigurationDialog&)>& choose)
{
    QStringList captions;
    const QMetaObject::Connection opened = QObject::connect(
        f->configurations, &ConfigurationCommands::applyDialogOpened, [&](ApplyConfigurationDialog* dialog) {
            QTimer::singleShot(0, dialog, [&, dialog] {
                // As the operator meets it: shown and active.
                if (!QTest::qWaitFor([dialog] { return QApplication::activeWindow() == dialog; }))
                    qWarning("the dialog never became active");
                for (int i = 0; i < dialog->lstKept->topLevelItemCount(); ++i)
                    captions.append(dialog->lstKept->topLevelItem(i)->text(0));
                choose(*dialog);
                // A choice that did not close it ends the test, not the suite.
                if (dialog->isVisible())
                    dialog->reject();
            });
        });
    f->mnuApply->trigger();
    QObject::disconnect(opened);
    return captions;
}

void ChooseRow(ApplyConfigurationDialog& dialog, int row)
{
    dialog.lstKept->setCurrentItem(dialog.lstKept->topLevelItem(row));
    dialog.cmdOk->click();
}

// Everything the element received before a marker sent now on its command port.
QList<QByteArray> ReceivedUpToMarker(ConsoleFixture& f)
{
    const QByteArray marker = QByteArrayLiteral("MARK");
    if (!f.core().sender.SendToSelected(marker, f.environment().ports.command, false))
        return {QByteArrayLiteral("marker not sent")};
    if (!QTest::qWaitFor([&] { return !f.element->received.isEmpty() && f.element->received.last().data == marker; }))
        return {QByteArrayLiteral("marker lost")};
    QList<QByteArray> received;
    for (const LoopbackElement::Received& r : f.element->received.mid(0, f.element->received.size() - 1))
        received.append(r.data);
    return received;
}

} // namespace

class TestConfigurationCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void menuItemsFollowNetworkStatusAndNeedASelection();
    void savedFileReadsBackAndAppliesToTheSpare();
    void saveThatFailsNamesTheFile();
    void applyFromHistoryFillsAndSendsNothing_data();
    void applyFromHistoryFillsAndSendsNothing();
    void anotherRoleIsAskedFirst_data();
    void anotherRoleIsAskedFirst();
    void badFileNamesItAndChangesNothing_data();
    void badFileNamesItAndChangesNothing();
    void saveAfterApplySendsTheAppliedConfiguration();
};

void TestConfigurationCommands::menuItemsFollowNetworkStatusAndNeedASelection()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kNew, Spare(1)));
    QVERIFY(f.load());
    const QList<QAction*> items = f->mnuHidden1->actions();
    const qsizetype status = items.indexOf(f->mnuStatus);
    QCOMPARE(items.mid(status + 1), QList<QAction*>({f->mnuSaveAs, f->mnuApply}));
    QCOMPARE(f->mnuSaveAs->text(), QStringLiteral("Sa&ve configuration as..."));
    QCOMPARE(f->mnuApply->text(), QStringLiteral("A&pply configuration from..."));

    QVERIFY(!f->mnuSaveAs->isEnabled());
    QVERIFY(!f->mnuApply->isEnabled());
    QVERIFY(f.select(kNew));
    QVERIFY(f->mnuSaveAs->isEnabled());
    QVERIFY(f->mnuApply->isEnabled());
    f.core().clearSelection();
    QVERIFY(!f->mnuSaveAs->isEnabled());
    QVERIFY(!f->mnuApply->isEnabled());
}

void TestConfigurationCommands::savedFileReadsBackAndAppliesToTheSpare()
{
    ConsoleFixture f;
    const ElementRecord old = Old(2);
    QVERIFY(f.writeElement(kOld, StoredElement {old.name, old.ip, old.mask, old.gw, old.remote, 1, 0, 0, 2, 99, 120}));
    QVERIFY(f.writeElement(kNew, Spare(2)));
    QVERIFY(f.load());
    QVERIFY(f.select(kOld));
    // What the database holds is saved, not what the editor shows.
    f->txtElementIP->setText(QStringLiteral("10.7.7.7"));
    TempDir dir;
    QString suggested;
    f->configurations->pickSavePath = [&](const QString& name) {
        suggested = name;
        return dir.file(QStringLiteral("old"));
    };
    f.boxes.clear();
    f->mnuSaveAs->trigger();
    QCOMPARE(suggested, QStringLiteral("OLD_TX_02-00-00-00-01-AA.json"));
    const QString path = dir.file(QStringLiteral("old.json"));
    QString error;
    const std::optional<SavedConfiguration> saved = LoadConfigurationFile(path, &error);
    QVERIFY2(saved, qPrintable(error));
    const ElementRecord& r = saved->record;
    QCOMPARE(QStringList({r.key, r.name, r.ip, r.gw, r.role, r.sn, r.att}),
             QStringList({kOld, old.name, old.ip, old.gw, old.role, old.sn, old.att}));

    QVERIFY(f.select(kNew));
    f->configurations->pickOpenPath = [&] { return path; };
    RunApply(f, [](ApplyConfigurationDialog& dialog) { dialog.cmdFromFile->click(); });
    QCOMPARE(EditorTexts(f.w()), kOldInTheEditor);
    QCOMPARE(f->scrlAtten->value(), 120);
    f.showNotices();
    QCOMPARE(f.boxes.count(), 0);
}

void TestConfigurationCommands::saveThatFailsNamesTheFile()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kNew, Spare(1)));
    QVERIFY(f.load());
    QVERIFY(f.select(kNew));
    TempDir dir;
    const QString path = dir.file(QStringLiteral("no such folder/spare.json"));
    f->configurations->pickSavePath = [&](const QString&) { return path; };
    f.boxes.clear();
    f->mnuSaveAs->trigger();
    f.showNotices();
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Error);
    QVERIFY2(f.boxes.shown.at(0).text.contains(path), qPrintable(f.boxes.shown.at(0).text));
    QVERIFY(!QFile::exists(path));
}

void TestConfigurationCommands::applyFromHistoryFillsAndSendsNothing_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("inDatabase");
    QTest::addColumn<int>("slider");
    QTest::newRow("encoder, gone from the database") << 1 << false << -1;
    QTest::newRow("decoder, gone from the database") << 2 << false << 120;
    QTest::newRow("decoder, still in it") << 2 << true << 120;
}

void TestConfigurationCommands::applyFromHistoryFillsAndSendsNothing()
{
    QFETCH(int, role);
    QFETCH(bool, inDatabase);
    QFETCH(int, slider);
    ConsoleFixture f;
    QVERIFY(f.writeElement(kNew, Spare(role)));
    if (inDatabase)
        QVERIFY(f.writeElement(kOld, StoredElement {.ip = QStringLiteral("10.1.2.3")}));
    QVERIFY(f.load());
    ElementRecord other = Old(role);
    other.key = kOther;
    other.name = QStringLiteral("SEEN LATER");
    const QDateTime seen = QDateTime::currentDateTimeUtc().addDays(-30);
    QVERIFY(f.core().history.remember({Old(role)}, seen));
    QVERIFY(f.core().history.remember({other}, seen.addSecs(60)));
    QVERIFY(f.select(kNew));
    f->show();
    QVERIFY(QTest::qWaitForWindowActive(&f.w()));
    const QByteArray database = FileBytes(f.database());
    const int sliderBefore = f->scrlAtten->value();
    bool movedWithFocus = false;
    connect(f->scrlAtten, &QScrollBar::valueChanged, this, [&] { movedWithFocus = f->scrlAtten->hasFocus(); });

    const QStringList captions = RunApply(f, [&](ApplyConfigurationDialog& dialog) {
        // Once the dialog is gone the slider has the focus, as if the operator had just moved it:
        // still, the program's move sends nothing.
        connect(&dialog, &QDialog::finished, this, [&] {
            QApplication::setActiveWindow(&f.w());
            f->scrlAtten->setFocus();
        });
        ChooseRow(dialog, 1);
    });
    const QString gone = inDatabase ? QString() : QStringLiteral(" (not in the database)");
    QCOMPARE(captions,
             QStringList({QStringLiteral("SEEN LATER [02:00:00:00:01:BB] (not in the database)"),
                          QStringLiteral("OLD TX [02:00:00:00:01:AA]") + gone}));
    QCOMPARE(EditorTexts(f.w()), kOldInTheEditor);
    QCOMPARE(f->scrlAtten->value(), slider == -1 ? sliderBefore : slider);
    QCOMPARE(movedWithFocus, slider != -1);
    QCOMPARE(f->scrlAtten->isVisible(), role == 2);
    QCOMPARE(ReceivedUpToMarker(f), QList<QByteArray> {});
    QCOMPARE(FileBytes(f.database()), database);
}

void TestConfigurationCommands::anotherRoleIsAskedFirst_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No, the default") << false;
}

void TestConfigurationCommands::anotherRoleIsAskedFirst()
{
    QFETCH(bool, yes);
    ConsoleFixture f;
    QVERIFY(f.writeElement(kNew, Spare(2)));
    QVERIFY(f.load());
    QVERIFY(f.core().history.remember({Old(1)}, QDateTime::currentDateTimeUtc()));
    QVERIFY(f.select(kNew));
    const QStringList before = EditorTexts(f.w());
    f.boxes.clear();
    f.boxes.setNextAnswer(yes ? MsgAnswer::Yes : MsgAnswer::No);

    RunApply(f, [](ApplyConfigurationDialog& dialog) { ChooseRow(dialog, 0); });
    QCOMPARE(f.boxes.count(), 1);
    QVERIFY(f.boxes.shown.at(0).question);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Apply configuration"));
    QVERIFY(f.boxes.shown.at(0).text.contains(QStringLiteral("OLD TX [02:00:00:00:01:AA]")));
    QCOMPARE(EditorTexts(f.w()), yes ? kOldInTheEditor : before);
    // An encoder's configuration has no attenuation: the decoder's stays.
    QCOMPARE(f->scrlAtten->value(), 255);
}

void TestConfigurationCommands::badFileNamesItAndChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::newRow("no such file") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("[nms]\n");
    QTest::newRow("another JSON document") << QByteArray(R"({"format": "something-else", "version": 1})");
    QTest::newRow("a bad address")
        << ConfigurationToJson(Old(1), QDateTime::currentDateTimeUtc(), VersionText()).replace("10.1.2.3", "10.1.2");
}

void TestConfigurationCommands::badFileNamesItAndChangesNothing()
{
    QFETCH(QByteArray, content);
    ConsoleFixture f;
    QVERIFY(f.writeElement(kNew, Spare(1)));
    QVERIFY(f.load());
    QVERIFY(f.select(kNew));
    TempDir dir;
    const QString path = dir.file(QStringLiteral("old.json"));
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    QString error;
    QVERIFY(!LoadConfigurationFile(path, &error));
    const QStringList before = EditorTexts(f.w());
    f->configurations->pickOpenPath = [&] { return path; };
    f.boxes.clear();

    RunApply(f, [](ApplyConfigurationDialog& dialog) { dialog.cmdFromFile->click(); });
    f.showNotices();
    QCOMPARE(f.boxes.count(), 1);
    const ShownBox& box = f.boxes.shown.at(0);
    QCOMPARE(box.icon, MsgIcon::Error);
    QVERIFY2(box.text.contains(path) && box.text.contains(error), qPrintable(box.text));
    QCOMPARE(EditorTexts(f.w()), before);
}

void TestConfigurationCommands::saveAfterApplySendsTheAppliedConfiguration()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kNew, Spare(1)));
    QVERIFY(f.load());
    QVERIFY(f.core().history.remember({Old(1)}, QDateTime::currentDateTimeUtc()));
    QVERIFY(f.select(kNew));
    RunApply(f, [](ApplyConfigurationDialog& dialog) { ChooseRow(dialog, 0); });
    QCOMPARE(EditorTexts(f.w()), kOldInTheEditor);
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);

    f->cmdSave->click();
    // The new address is asked of the network first (nobody answers it), then the question.
    QTRY_COMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Send configuration"));
    const quint16 configPort = f.element->configPort();
    QTRY_COMPARE(f.element->receivedOn(configPort).size(), 1);
    QByteArray expected;
    for (int b : {10, 1, 2, 3, 255, 255, 255, 0, 10, 1, 2, 254, 10, 9, 8, 7, 1, 0, 0})
        expected.append(char(b));
    expected.append("OLD TX          ");
    QCOMPARE(f.element->receivedOn(configPort).first(), expected);

    // The spare unit confirms from its new address: that is what is stored for it.
    f.neighbours.add(QStringLiteral("10.1.2.3"), MacBytes(kNewMac));
    FeedbackFields answer;
    answer.ip = QStringLiteral("10.1.2.3");
    answer.gw = QStringLiteral("10.1.2.254");
    answer.remote = QStringLiteral("10.9.8.7");
    answer.input = 1;
    answer.type = 0;
    answer.name = QByteArrayLiteral("OLD TX          ");
    QVERIFY(f.element->sendToConsole(answer.bytes(), f.consolePort()));
    QTRY_COMPARE(ReadFromINI(kNew, QStringLiteral("ip"), f.database(), QString()), QStringLiteral("10.1.2.3"));
    QCOMPARE(ReadFromINI(kNew, QStringLiteral("name"), f.database(), QString()), QStringLiteral("OLD TX"));
}

QTEST_MAIN(TestConfigurationCommands)
#include "tst_configurationcommands.moc"
