// The thirteen store operations (and WriteIniEntries) against hand-written files.
#include "database/ProfileStore.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <limits>

using namespace nms;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray sections(int count, const QByteArray& eol = "\n")
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "[00A0C9" + QByteArray::number(i, 16).toUpper().rightJustified(6, '0') + "]" + eol + "NAME=E"
            + QByteArray::number(i) + eol;
    return bytes;
}

} // namespace

class TestProfileStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keysMatchWithoutCaseAndStandUpperCase();
    void valuesLoseTheirBlanks();
    void writesReplaceInPlaceAndAppend();
    void missingFileReadsAsAbsent();
    void everyReadSeesTheFileAsItIsNow();
    void valuesAreCutAt749();
    void deletes();
    void keyAndSectionExistence();
    void getLong_data();
    void getLong();
    void sectionContentAndItsCapacity();
    void sectionNameLists();
    void renames();
    void entriesInOneRewriteEqualSingleWrites();
    void refusedWriteIsReported();
    void sectionsWithValuesEqualOneReadPerSection();
    void readingNamesOfManySectionsIsQuick_data();
    void readingNamesOfManySectionsIsQuick();
};

void TestProfileStore::keysMatchWithoutCaseAndStandUpperCase()
{
    test::TempDir dir;
    QVERIFY(WriteToINI("00A0C9F81E24", "name", "STUDIO TX", dir.database()));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[00A0C9F81E24]\nNAME=STUDIO TX\n"));
    for (const char* key : {"name", "NAME", "Name"})
        QCOMPARE(ReadFromINI("00a0c9f81e24", key, dir.database(), "default"), QString("STUDIO TX"));
}

void TestProfileStore::valuesLoseTheirBlanks()
{
    test::TempDir dir;
    QVERIFY(WriteToINI("S", "name", "STUDIO TX       ", dir.database()));
    QVERIFY(WriteToINI("S", "empty", "", dir.database()));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[S]\nNAME=STUDIO TX       \nEMPTY=\n"));
    QCOMPARE(ReadFromINI("S", "name", dir.database(), "d"), QString("STUDIO TX"));
    QCOMPARE(ReadFromINI("S", "empty", dir.database(), "d"), QString(""));
}

void TestProfileStore::writesReplaceInPlaceAndAppend()
{
    test::TempDir dir;
    put(dir.database(), "[A]\nIP=10.0.0.1\nNAME=x\n\n[B]\nK=1\n");
    QVERIFY(WriteToINI("A", "ip", "10.0.0.2", dir.database()));
    QVERIFY(WriteToINI("a", "gw", "10.0.0.254", dir.database()));
    QVERIFY(WriteToINI("C", "role", "2", dir.database()));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A]\nIP=10.0.0.2\nNAME=x\nGW=10.0.0.254\n\n[B]\nK=1\n[C]\nROLE=2\n"));
}

void TestProfileStore::missingFileReadsAsAbsent()
{
    test::TempDir dir;
    QStringList list {"kept"};
    QCOMPARE(ReadFromINI("S", "k", dir.database(), "dflt"), QString("dflt"));
    QCOMPARE(GetSectionKeyCount("S", dir.database()), qint16(0));
    LoadIniSectionsLB(list, dir.database());
    LoadIniSectionKeysLB("S", list, dir.database());
    QCOMPARE(list, QStringList {"kept"});
    QVERIFY(LoadIniSectionsArray(dir.database()).isEmpty());
    QVERIFY(!CheckIfIniKeyExists("S", "k", dir.database()));
    QVERIFY(!CheckIfIniSectionExists("S", dir.database()));
    QCOMPARE(GetLongFromINI("S", "k", dir.database(), -7), -7);
    QVERIFY(DeleteIniKey("S", "k", dir.database()));
    QVERIFY(DeleteIniSection("S", dir.database()));
    RenameIniSection("S", "T", dir.database());
    RenameIniKey("S", "k", "l", dir.database());
    QVERIFY(!QFile::exists(dir.database()));
}

void TestProfileStore::everyReadSeesTheFileAsItIsNow()
{
    test::TempDir dir;
    QVERIFY(WriteToINI("S", "ip", "10.0.0.1", dir.database()));
    QCOMPARE(ReadFromINI("S", "ip", dir.database(), ""), QString("10.0.0.1"));
    put(dir.database(), "[S]\nIP=10.0.0.9\n");
    QCOMPARE(ReadFromINI("S", "ip", dir.database(), ""), QString("10.0.0.9"));
}

void TestProfileStore::valuesAreCutAt749()
{
    test::TempDir dir;
    const QString value = QString(700, 'a') + QString(100, 'b');
    QVERIFY(WriteToINI("S", "long", value, dir.database()));
    QCOMPARE(ReadFromINI("S", "long", dir.database(), ""), value.left(749));
    QCOMPARE(ReadFromINI("S", "none", dir.database(), value), value.left(749));
}

void TestProfileStore::deletes()
{
    test::TempDir dir;
    put(dir.database(), "[A]\nIP=1\nNAME=x\n[B]\nIP=2\n");
    QVERIFY(DeleteIniKey("A", "ip", dir.database()));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A]\nNAME=x\n[B]\nIP=2\n"));
    QVERIFY(DeleteIniSection("a", dir.database()));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[B]\nIP=2\n"));
    QVERIFY(DeleteIniSection("missing", dir.database()));
    QCOMPARE(ReadFromINI("B", "ip", dir.database(), ""), QString("2"));
}

void TestProfileStore::keyAndSectionExistence()
{
    test::TempDir dir;
    put(dir.database(), "[A]\nEMPTY=\nX=A\n[HEADERONLY]\n");
    QVERIFY(CheckIfIniKeyExists("A", "empty", dir.database()));
    QVERIFY(CheckIfIniKeyExists("A", "x", dir.database())); // its value equals one of the probes
    QVERIFY(!CheckIfIniKeyExists("A", "missing", dir.database()));
    QVERIFY(CheckIfIniSectionExists("a", dir.database()));
    QVERIFY(!CheckIfIniSectionExists("HEADERONLY", dir.database()));
    QVERIFY(!CheckIfIniSectionExists("missing", dir.database()));
}

void TestProfileStore::getLong_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<qint32>("expected");
    QTest::newRow("plain") << "37" << 37;
    QTest::newRow("blanks") << "  42\t" << 42;
    QTest::newRow("digits then text") << "12ab" << 12;
    QTest::newRow("no digits") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("minus") << "-5" << -5;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("sign alone") << "-" << 0;
    QTest::newRow("hex stops at x") << "0x10" << 0;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("too big") << "99999999999" << std::numeric_limits<qint32>::max();
    QTest::newRow("too small") << "-99999999999" << std::numeric_limits<qint32>::min();
    QTest::newRow("lowest") << "-2147483648" << std::numeric_limits<qint32>::min();
}

void TestProfileStore::getLong()
{
    QFETCH(QString, value);
    QFETCH(qint32, expected);
    test::TempDir dir;
    QVERIFY(WriteToINI("S", "n", value, dir.database()));
    QCOMPARE(GetLongFromINI("S", "N", dir.database(), 99), expected);
    QCOMPARE(GetLongFromINI("S", "other", dir.database(), 99), 99);
}

void TestProfileStore::sectionContentAndItsCapacity()
{
    test::TempDir dir;
    QByteArray twelve = "[A]\n";
    for (int i = 0; i < 12; ++i)
        twelve += "K" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\n";
    // 20 entries of 48 characters each with their NUL: (750 - 1) / 48, so 15 of them fit.
    QByteArray big = "[B]\n";
    for (int i = 10; i < 30; ++i)
        big += "KEY" + QByteArray::number(i) + "=" + QByteArray(41, 'v') + "\n";
    put(dir.database(), twelve + big + "[C]\nONLY=" + QByteArray(745, 'x') + "\n");

    QCOMPARE(GetSectionKeyCount("a", dir.database()), qint16(12));
    QCOMPARE(GetSectionKeyCount("B", dir.database()), qint16(15));
    QStringList keys {"before"};
    LoadIniSectionKeysLB("B", keys, dir.database());
    QCOMPARE(keys.size(), 16);
    QCOMPARE(keys.first(), QString("before"));
    QCOMPARE(keys.at(1), QString("KEY10"));
    QCOMPARE(keys.last(), QString("KEY24"));
    // An entry too long for the buffer is dropped whole, so the section shows no content.
    QCOMPARE(GetSectionKeyCount("C", dir.database()), qint16(0));
    QVERIFY(!CheckIfIniSectionExists("C", dir.database()));
}

void TestProfileStore::sectionNameLists()
{
    test::TempDir dir;
    put(dir.database(), sections(100));
    QStringList names {"kept"};
    LoadIniSectionsLB(names, dir.database());
    QCOMPARE(names.size(), 101);
    QCOMPARE(names.at(1), QString("00A0C9000000"));
    QCOMPARE(names.at(60), QString("00A0C900003B"));
    QCOMPARE(names.last(), QString("00A0C9000063"));
    // The array crosses 1024 characters: 78 names of 13 (1014 + 1) fit, the 79th does not.
    const QStringList array = LoadIniSectionsArray(dir.database());
    QCOMPARE(array, names.mid(1, 78));
}

void TestProfileStore::renames()
{
    test::TempDir dir;
    put(dir.database(), "[OLD]\nip=10.0.0.1\nname=A\nexpr=a=b\n[OTHER]\nK=1\n");
    RenameIniSection("old", "NEW", dir.database());
    QCOMPARE(bytesOf(dir.database()), QByteArray("[OTHER]\nK=1\n[NEW]\nIP=10.0.0.1\nNAME=A\nEXPR=a\n"));

    RenameIniKey("NEW", "ip", "addr", dir.database());
    RenameIniKey("NEW", "missing", "x", dir.database());
    QCOMPARE(bytesOf(dir.database()), QByteArray("[OTHER]\nK=1\n[NEW]\nNAME=A\nEXPR=a\nADDR=10.0.0.1\n"));

    // Only the case differs: the entries stay, their names upper-cased.
    put(dir.database(), "[sec]\nname=A\n");
    RenameIniKey("sec", "name", "Name", dir.database());
    RenameIniSection("sec", "SEC", dir.database());
    QCOMPARE(bytesOf(dir.database()), QByteArray("[sec]\nNAME=A\n"));
}

void TestProfileStore::entriesInOneRewriteEqualSingleWrites()
{
    test::TempDir dir;
    const QByteArray start = "[A]\nNAME=old\nIP=1.1.1.1\n[B]\nK=1\n";
    const QList<QPair<QString, QString>> entries {
        {"name", "NEW             "}, {"gw", "1.1.1.254"}, {"role", "1"}, {"gw", "1.1.1.253"}, {"ip", "1.1.1.2"}};
    const QString single = dir.file("single.ini"), batch = dir.file("batch.ini");
    for (const QString& section : {QString("A"), QString("NEWSECTION")}) {
        put(single, start);
        put(batch, start);
        for (const auto& [key, value] : entries)
            QVERIFY(WriteToINI(section, key, value, single));
        QVERIFY(WriteIniEntries(section, entries, batch));
        QCOMPARE(bytesOf(batch), bytesOf(single));
    }
}

void TestProfileStore::refusedWriteIsReported()
{
    test::TempDir dir;
    put(dir.file("plain"), "");
    const QString path = dir.file("plain/nms.ini");
    QVERIFY(!WriteToINI("S", "k", "v", path));
    QVERIFY(!WriteIniEntries("S", {{"k", "v"}}, path));
    QCOMPARE(ReadFromINI("S", "k", path, "d"), QString("d"));
}

void TestProfileStore::sectionsWithValuesEqualOneReadPerSection()
{
    test::TempDir dir;
    const QString path = dir.database();
    // Missing file: nothing, and the lists are appended to, not emptied.
    QStringList keys {"KEPT"}, names {"kept"};
    LoadIniSectionsWithValues(keys, names, "name", path, "none");
    QCOMPARE(keys, QStringList {"KEPT"});
    QCOMPARE(names, QStringList {"kept"});

    // Case, blanks, a second section and a second key of one name, a header without a name,
    // a section without the key, a comment, CR line ends and a value beyond the buffer.
    const QByteArray longValue(800, 'v');
    put(path,
        "junk=1\n[ a ]\r\n Name = first  \r\nNAME=second\n[B]\nIP=1\n;name=c\n[]\nname=x\n"
        "[A]\nname=late\n[c]\nname="
            + longValue + "\n[D]\nname=\n");
    keys.clear();
    names.clear();
    LoadIniSectionsWithValues(keys, names, "NAME", path, "none");
    QStringList expectedKeys;
    LoadIniSectionsLB(expectedKeys, path);
    QCOMPARE(keys, expectedKeys);
    QCOMPARE(keys, (QStringList {"a", "B", "c", "D"}));
    QStringList expectedNames;
    for (const QString& key : expectedKeys)
        expectedNames.append(ReadFromINI(key, "NAME", path, "none"));
    QCOMPARE(names, expectedNames);
    QCOMPARE(names, (QStringList {"first", "none", QString(749, 'v'), ""}));
}

void TestProfileStore::readingNamesOfManySectionsIsQuick_data()
{
    QTest::addColumn<QByteArray>("eol");
    QTest::newRow("LF") << QByteArray("\n");
    QTest::newRow("CR") << QByteArray("\r");
}

void TestProfileStore::readingNamesOfManySectionsIsQuick()
{
    QFETCH(QByteArray, eol);
    test::TempDir dir;
    put(dir.database(), sections(2000, eol));
    QElapsedTimer timer;
    timer.start();
    QStringList keys;
    LoadIniSectionsLB(keys, dir.database());
    QCOMPARE(keys.size(), 2000);
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(ReadFromINI(keys.at(i * 2), "name", dir.database(), ""), QString("E%1").arg(i * 2));
    // Linear work per call keeps this far under a second even in a sanitized debug build;
    // work growing with the square of the file would take minutes.
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString("%1 ms").arg(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestProfileStore)
#include "tst_profilestore.moc"
