// nms.ini is a text file other programs and people can edit. Damaged ones of every shape: the
// window starts on each, lists what the file's format allows, shows or refuses the element as
// selection does, and a save through an element's answer either lands or is refused with the
// file left byte for byte as it was. A full disk and a read-only folder give the operator the
// database error and leave the old file.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>

#include "console/EditorPanel.h"
#include "console/ElementListPanel.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "session/FeedbackProcessor.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("02000000010A");
const QString kMac = QStringLiteral("02:00:00:00:01:0A");
const QByteArray kSection = "[02000000010A]";
const QString kSaved = QStringLiteral("New configuration has been sucessfuly saved and loaded!");
const QString kRefusedLoad = QStringLiteral("The data stored in your computer about this element, is corrupted (1).\r"
                                            "Cannot load this element info.");
const QString kRefusedSave = QStringLiteral("The data stored in your computer about this element, is corrupted.\r"
                                            "Cannot save this element info.");
const QString kNoSections =
    QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network.");

// The ten entries a discovery writes for an encoder, one line each, joined by `eol`.
QByteArray Element(const QByteArray& header = kSection, const QByteArray& eol = "\n")
{
    const QList<QByteArray> lines = {header,
                                     "NAME=STUDIO A          ",
                                     "IP=192.168.1.10",
                                     "MASK=255.255.0.0",
                                     "GW=192.168.1.1",
                                     "REMOTE=10.0.0.1",
                                     "INPUT=0",
                                     "TYPE=0",
                                     "TX=0",
                                     "ROLE=1",
                                     "SN=42"};
    return lines.join(eol) + eol;
}

QByteArray BytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool Put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The element's answer to a configuration the operator sent: the editor held these values when it
// was sent, and the element confirms them.
FeedbackFields Confirmed()
{
    FeedbackFields fb;
    fb.ip = QStringLiteral("192.168.1.20");
    fb.mask = QStringLiteral("255.255.255.0");
    fb.gw = QStringLiteral("192.168.1.254");
    fb.remote = QStringLiteral("10.0.0.2");
    fb.input = 1;
    fb.type = 1;
    fb.tx = 1;
    fb.name = QByteArrayLiteral("STUDIO B        ");
    fb.role = 1;
    fb.serial = QByteArray::fromHex("00000007");
    return fb;
}

// Fills the editor as the operator would before a save and takes it as sent (without sending it:
// the element's stored address is not on loopback), then delivers the element's answer and waits
// until it is handled. The boxes it raised are left in f.boxes.
bool SaveThroughAnswer(ConsoleFixture& f)
{
    const FeedbackFields fb = Confirmed();
    f->txtElementName->setText(QStringLiteral("studio b"));
    f->txtElementIP->setText(fb.ip);
    f->txtElementMask->setText(fb.mask);
    f->txtElementGW->setText(fb.gw);
    f->txtRemoteIP->setText(fb.remote);
    f->cmbAudioInput->setCurrentIndex(fb.input);
    f->cmbAudioType->setCurrentIndex(fb.type);
    f->cmbAudioTX->setCurrentIndex(fb.tx);
    f.core().state.setLastSent(f->editor->EditorFields());
    f.neighbours.add(fb.ip, MacBytes(kMac));
    f.boxes.clear();
    QSignalSpy handled(&f.core().feedback, &FeedbackProcessor::feedbackHandled);
    if (!f.element->sendToConsole(fb.bytes(), f.consolePort()) || !handled.wait(15000))
        return false;
    f.showNotices();
    return true;
}

// The stored configuration equals what the answer confirmed.
void VerifySaved(const ConsoleFixture& f)
{
    QVERIFY2(f.boxes.texts().contains(kSaved), qPrintable(f.boxes.texts().join(QLatin1Char('|'))));
    auto stored = [&](const char* key) {
        return ReadFromINI(kKey, QLatin1String(key), f.database(), QStringLiteral("<none>"));
    };
    QCOMPARE(stored("name"), QStringLiteral("STUDIO B"));
    QCOMPARE(stored("ip"), QStringLiteral("192.168.1.20"));
    QCOMPARE(stored("mask"), QStringLiteral("255.255.255.0"));
    QCOMPARE(stored("input"), QStringLiteral("1"));
    QCOMPARE(stored("tx"), QStringLiteral("1"));
    QCOMPARE(stored("sn"), QStringLiteral("7"));
    // The reload that follows shows the element from the database again.
    QCOMPARE(f->lblElementMAC->caption(), kMac);
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("192.168.1.20"));
}

// Starts the window on `contents` and picks the element kKey.
void StartAndSelect(ConsoleFixture& f, const QByteArray& contents)
{
    QVERIFY(Put(f.database(), contents));
    QVERIFY(f.load());
    QVERIFY(f.select(kKey));
}

} // namespace

class TstDamagedDatabases : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noSectionsAtAll_data();
    void noSectionsAtAll();
    void lineEndsAndByteOrderMark_data();
    void lineEndsAndByteOrderMark();
    void duplicatesAndLinesWithoutEquals();
    void extremelyLongLines();
    void hugeFiles_data();
    void hugeFiles();
    void oversizedSections_data();
    void oversizedSections();
    void valuesWithoutDigits();
    void fullDiskAndReadOnlyFolder();
};

void TstDamagedDatabases::noSectionsAtAll_data()
{
    QTest::addColumn<QByteArray>("contents");
    // Garbage without a "[": no line can open a section.
    QByteArray garbage(64 * 1024, '\0');
    QRandomGenerator random(20261207);
    for (char& c : garbage) {
        do
            c = char(random.bounded(256));
        while (c == '[');
    }
    QTest::newRow("binary garbage") << garbage;
    QTest::newRow("lines without =") << QByteArray("NAME STUDIO\nIP 1.2.3.4\n\n   \n;[comment]\n");
    QTest::newRow("entries before any section") << QByteArray("IP=1.2.3.4\r\nNAME=X\r\n");
    QTest::newRow("unclosed header") << QByteArray("[02000000010A\nIP=1.2.3.4\n");
}

void TstDamagedDatabases::noSectionsAtAll()
{
    QFETCH(QByteArray, contents);
    ConsoleFixture f;
    QVERIFY(Put(f.database(), contents));
    QVERIFY(f.load());
    QCOMPARE(f.boxes.texts(), QStringList {kNoSections});
    QCOMPARE(f->lstElements->count(), 0);
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
    QCOMPARE(BytesOf(f.database()), contents);
}

void TstDamagedDatabases::lineEndsAndByteOrderMark_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("keptAfterSave");
    const QByteArray other = Element("[0200000001FF]");
    QTest::newRow("CRLF") << Element(kSection, "\r\n") + other << QByteArray("\r\nMASK=255.255.255.0\r\n");
    QTest::newRow("CR alone") << Element(kSection, "\r") + other << QByteArray("\rMASK=255.255.255.0\r");
    QByteArray mixed = Element();
    mixed.replace("IP=192.168.1.10\n", "IP=192.168.1.10\r\n").replace("TX=0\n", "TX=0\r");
    QTest::newRow("mixed") << mixed + other << QByteArray("IP=192.168.1.20\r\nMASK");
    QTest::newRow("UTF-8 BOM") << QByteArray("\xEF\xBB\xBF") + Element() + other
                               << QByteArray("\xEF\xBB\xBF[02000000010A]");
    QTest::newRow("BOM and CRLF, no last line end") << QByteArray("\xEF\xBB\xBF") + other
            + Element(kSection, "\r\n").chopped(2) << QByteArray("\r\nROLE=1\r\nSN=7");
}

void TstDamagedDatabases::lineEndsAndByteOrderMark()
{
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, keptAfterSave);
    ConsoleFixture f;
    StartAndSelect(f, contents);
    QCOMPARE(f->elementList->lstHidden().size(), 2);
    QVERIFY(f->elementList->lstHidden().contains(kKey));
    QCOMPARE(f->txtElementName->text(), QStringLiteral("STUDIO A"));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("192.168.1.10"));
    QCOMPARE(f->txtRemoteIP->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(f->lblElementType->caption(), QStringLiteral("ENCODER"));
    QCOMPARE(f->lblSerialNumber->caption(), QStringLiteral("42"));

    QVERIFY(SaveThroughAnswer(f));
    VerifySaved(f);
    const QByteArray after = BytesOf(f.database());
    QVERIFY2(after.contains(keptAfterSave), after.constData());
    // The other element was not touched.
    QCOMPARE(ReadFromINI(QStringLiteral("0200000001FF"), QStringLiteral("ip"), f.database(), QString()),
             QStringLiteral("192.168.1.10"));
}

void TstDamagedDatabases::duplicatesAndLinesWithoutEquals()
{
    // The first section of a name and the first entry of a key win; later ones are kept, not seen.
    QByteArray contents = Element();
    contents.replace("MASK=", "this line has no equals sign\n\nMASK=");
    contents.replace("IP=192.168.1.10\n", "IP=192.168.1.10\nip=10.8.8.8\n"); // 11 entry lines
    contents += "[02000000010a]\nIP=10.9.9.9\nNAME=SHADOW\n";
    contents += Element("[0200000001FF]");
    ConsoleFixture f;
    StartAndSelect(f, contents);
    QCOMPARE(f->elementList->lstHidden(), (QStringList {kKey, QStringLiteral("0200000001FF")}));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("192.168.1.10"));
    QCOMPARE(f->txtElementName->text(), QStringLiteral("STUDIO A"));
    QCOMPARE(f->lblSerialNumber->caption(), QStringLiteral("42"));

    // The save replaces the first entries and adds att: with the duplicate that makes twelve
    // entry lines, so the reload after it refuses the section as damaged.
    QVERIFY(SaveThroughAnswer(f));
    QVERIFY(f.boxes.texts().contains(kSaved));
    QCOMPARE(ReadFromINI(kKey, QStringLiteral("ip"), f.database(), QString()), QStringLiteral("192.168.1.20"));
    QCOMPARE(GetSectionKeyCount(kKey, f.database()), qint16(12));
    QCOMPARE(f.boxes.texts().last(), kRefusedLoad);
    const QByteArray after = BytesOf(f.database());
    QVERIFY(after.contains("IP=192.168.1.20\nip=10.8.8.8\n"));
    QVERIFY(after.contains("this line has no equals sign\n\n"));
    QVERIFY(after.contains("[02000000010a]\nIP=10.9.9.9\n"));
}

void TstDamagedDatabases::extremelyLongLines()
{
    const QByteArray longName = QByteArray(100000, 'N');
    QByteArray contents = "[" + QByteArray(100000, 'S') + "]\nIP=1.2.3.4\n";
    contents += QByteArray(1 << 20, 'x') + "\n";
    contents += Element();
    contents.replace("NAME=STUDIO A          ", "NAME=" + longName);
    ConsoleFixture f;
    StartAndSelect(f, contents);
    // The long section is listed, without a name and with no MAC text (its name is not 12
    // characters); a value is cut at 749 characters.
    QCOMPARE(f->elementList->lstHidden(), (QStringList {QString(100000, u'S'), kKey}));
    QCOMPARE(f->lstElements->itemText(0), QStringLiteral(" []"));
    QCOMPARE(f->lstElements->itemText(1), QString(749, u'N') + QStringLiteral(" [02:00:00:00:01:0A]"));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("192.168.1.10"));

    QVERIFY(SaveThroughAnswer(f));
    VerifySaved(f);
    QVERIFY(BytesOf(f.database()).contains(QByteArray(1 << 20, 'x') + "\n"));
}

void TstDamagedDatabases::hugeFiles_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("listed");
    QTest::addColumn<QByteArray>("keptFrom");
    // 10 MB: the element, then lines the engine keeps but never reads as entries.
    QByteArray big = Element();
    const QByteArray filler = "; " + QByteArray(97, '-') + "\n";
    big.reserve(10 * 1024 * 1024 + 200);
    while (big.size() < 10 * 1024 * 1024)
        big += filler;
    QTest::newRow("10 MB") << big << 1 << filler;
    // 10,000 sections: every one is listed.
    QByteArray many = Element();
    for (int i = 0; i < 9999; ++i)
        many += "[" + QByteArray::number(0x030000000000LL + i, 16).toUpper().rightJustified(12, '0') + "]\nIP=10.0.0."
            + QByteArray::number(i % 250) + "\n";
    QTest::newRow("10,000 sections") << many << 10000 << QByteArray("[030000000000]");
}

void TstDamagedDatabases::hugeFiles()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, listed);
    QFETCH(QByteArray, keptFrom);
    ConsoleFixture f;
    QElapsedTimer clock;
    clock.start();
    StartAndSelect(f, contents);
    QCOMPARE(f->elementList->lstHidden().size(), listed);
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (%1 items)").arg(listed));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("192.168.1.10"));
    QVERIFY(SaveThroughAnswer(f));
    VerifySaved(f);
    // Everything outside the element is kept.
    const QByteArray after = BytesOf(f.database());
    QVERIFY(after.indexOf(keptFrom) > 0);
    QVERIFY(after.mid(after.indexOf(keptFrom)) == contents.mid(contents.indexOf(keptFrom)));
    qInfo("start-up, selection and a save on %lld bytes took %lld ms", qlonglong(contents.size()),
          qlonglong(clock.elapsed()));
}

void TstDamagedDatabases::oversizedSections_data()
{
    QTest::addColumn<int>("extra");
    QTest::newRow("12 entries") << 2; // ten, att, and one more
    QTest::newRow("50 entries") << 40;
}

void TstDamagedDatabases::oversizedSections()
{
    QFETCH(int, extra);
    ConsoleFixture f;
    // The element shown first is sound; the file is then edited behind the console's back.
    QByteArray sound = Element();
    sound.replace("SN=42\n", "SN=42\nATT=100\n");
    StartAndSelect(f, sound);
    QByteArray damaged = sound;
    QByteArray more;
    for (int i = 0; i < extra - 1; ++i)
        more += "X" + QByteArray::number(i) + "=1\n";
    damaged.replace("ATT=100\n", "ATT=100\n" + more);
    QVERIFY(Put(f.database(), damaged));
    QCOMPARE(GetSectionKeyCount(kKey, f.database()), qint16(10 + extra));

    // Its answer to a save is refused and nothing is written.
    QVERIFY(SaveThroughAnswer(f));
    QVERIFY2(f.boxes.texts().contains(kRefusedSave), qPrintable(f.boxes.texts().join(QLatin1Char('|'))));
    QVERIFY(!f.boxes.texts().contains(kSaved));
    QCOMPARE(BytesOf(f.database()), damaged);

    // Picking it again is refused, and the controls keep what they showed.
    f.boxes.clear();
    f->txtElementIP->setText(QStringLiteral("192.168.1.99"));
    f->Load_Config();
    f.showNotices();
    QVERIFY(f.boxes.texts().contains(kRefusedLoad));
    f.boxes.clear();
    const int index = f->elementList->lstHidden().indexOf(kKey);
    QVERIFY(index >= 0);
    f->lstElements->setCurrentIndex(index);
    f->elementList->lstElements_Click();
    f.showNotices();
    QCOMPARE(f.boxes.texts(), QStringList {kRefusedLoad});
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("192.168.1.99"));
    QCOMPARE(BytesOf(f.database()), damaged);
}

void TstDamagedDatabases::valuesWithoutDigits()
{
    QByteArray contents = Element();
    contents.replace("INPUT=0", "INPUT=analog")
        .replace("TYPE=0", "TYPE=")
        .replace("TX=0", "TX=-")
        .replace("ROLE=1", "ROLE=decoder")
        .replace("SN=42", "SN=none")
        .replace("IP=192.168.1.10", "IP=localhost");
    contents += "[0200000001FF]\nNAME=DEC\nROLE=2\nATT=loud\nIP=not an address\n";
    ConsoleFixture f;
    StartAndSelect(f, contents);
    QCOMPARE(f->lblElementType->caption(), QStringLiteral("UNKNOWN"));
    QCOMPARE(f->cmbAudioInput->currentIndex(), -1);
    QCOMPARE(f->cmbAudioType->currentIndex(), -1);
    QCOMPARE(f->cmbAudioTX->currentIndex(), -1);
    QCOMPARE(f->lblSerialNumber->caption(), QStringLiteral("none"));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("localhost"));
    QCOMPARE(f->txtElementIP->palette().color(QPalette::Base), QColor(255, 128, 128));

    // A decoder whose attenuation is no number leaves the slider where it was.
    const int slider = f->scrlAtten->value();
    QVERIFY(f.select(QStringLiteral("0200000001FF")));
    QCOMPARE(f->lblElementType->caption(), QStringLiteral("DECODER"));
    QCOMPARE(f->scrlAtten->value(), slider);

    // A save of the first element through its answer replaces every unusable value.
    QVERIFY(f.select(kKey));
    QVERIFY(SaveThroughAnswer(f));
    VerifySaved(f);
    QCOMPARE(f->lblElementType->caption(), QStringLiteral("ENCODER"));
    QCOMPARE(f->cmbAudioType->currentIndex(), 1);
}

void TstDamagedDatabases::fullDiskAndReadOnlyFolder()
{
    // A small tmpfs and a read-only remount of it, in a mount namespace of this process alone.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        QSKIP("needs a private mount namespace (root)");
    TempDir outer;
    const QByteArray folder = QFile::encodeName(outer.path());
    QCOMPARE(::mount("nms-full", folder.constData(), "tmpfs", 0, "size=64k"), 0);
    struct Unmount {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount {folder};

    ConsoleOptions options;
    options.databasePath = outer.database();
    ConsoleFixture f(options);
    StartAndSelect(f, Element());
    const QByteArray old = BytesOf(f.database());
    // Whatever room is left is taken: the rewrite's temporary file cannot be written whole.
    {
        QFile fill(outer.file(QStringLiteral("fill")));
        QVERIFY(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (fill.write(block) == block.size() && fill.flush()) { }
    }
    auto databaseErrorShown = [&] {
        const QString expected =
            QStringLiteral("The local database (%1) could not be written.\rThe element's answer was not saved.")
                .arg(f.database());
        return f.boxes.texts().contains(expected);
    };

    QVERIFY(SaveThroughAnswer(f));
    QVERIFY2(databaseErrorShown(), qPrintable(f.boxes.texts().join(QLatin1Char('|'))));
    QVERIFY(!f.boxes.texts().contains(kSaved));
    QCOMPARE(BytesOf(f.database()), old);

    // Room again, but the folder read-only.
    QVERIFY(QFile::remove(outer.file(QStringLiteral("fill"))));
    QCOMPARE(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    QVERIFY(SaveThroughAnswer(f));
    QVERIFY2(databaseErrorShown(), qPrintable(f.boxes.texts().join(QLatin1Char('|'))));
    QCOMPARE(BytesOf(f.database()), old);
    // No temporary file left behind (the event log beside the database was written before).
    QStringList files = QDir(outer.path()).entryList(QDir::Files | QDir::Hidden);
    files.removeAll(QStringLiteral("events.jsonl"));
    QCOMPARE(files, QStringList {QStringLiteral("nms.ini")});

    // Writable again: the same answer is stored.
    QCOMPARE(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT, nullptr), 0);
    QVERIFY(SaveThroughAnswer(f));
    VerifySaved(f);
}

QTEST_MAIN(TstDamagedDatabases)
#include "tst_damaged_databases.moc"
