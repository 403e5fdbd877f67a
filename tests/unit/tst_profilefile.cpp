// The profile-file engine: how it reads hand-written files, what a rewrite keeps, and that the
// file survives anything that interrupts or refuses a rewrite.
#include "database/ProfileFile.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace PF = nms::ProfileFile;

namespace {

constexpr char kWriterSwitch[] = "--kill-writer";
constexpr int kKillSections = 3000;

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString valueOf(const QString& path, const QString& section, const QString& key)
{
    return PF::ReadValue(path, section, key).value_or(QStringLiteral("<absent>"));
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A database large enough that a rewrite takes a while; GEN in section S1500 counts the writes.
QByteArray killBase()
{
    QByteArray bytes;
    for (int i = 0; i < kKillSections; ++i) {
        bytes += "[S" + QByteArray::number(i).rightJustified(4, '0') + "]\n";
        if (i == kKillSections / 2)
            bytes += "GEN=0\n";
        bytes += "NAME=ELEMENT " + QByteArray::number(i) + "\nIP=10.0." + QByteArray::number(i / 250) + '.'
            + QByteArray::number(i % 250) + "\nROLE=1\n";
    }
    return bytes;
}

// Child mode: rewrites GEN forever, telling the parent every value that reached the file.
int runWriter(const QString& path)
{
    qint64 gen = PF::ReadValue(path, QStringLiteral("S1500"), QStringLiteral("gen")).value_or(QString()).toLongLong();
    for (;;) {
        ++gen;
        if (!PF::WriteValues(path, QStringLiteral("S1500"), {{QStringLiteral("GEN"), QString::number(gen)}}))
            return 1;
        std::printf("%lld\n", gen);
        std::fflush(stdout);
    }
}

} // namespace

class TestProfileFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsEveryLineEnd();
    void rewriteKeepsLineEnds_data();
    void rewriteKeepsLineEnds();
    void rewriteKeepsUnknownLines();
    void blanksQuotesAndHeaders();
    void latin1CodePage();
    void byteOrderMark();
    void duplicatesFirstWins();
    void nulAndEmptyNames();
    void injectedLineBreaksStayInTheirLine();
    void unchangedFileIsNotRewritten();
    void missingFile();
    void listTransfer();
    void refusedRewritesLeaveTheFile();
    void fullDiskLeavesTheOldFile();
    void readOnlyFolderLeavesTheOldFile();
    void killMidWriteLeavesAWholeFile();
};

void TestProfileFile::readsEveryLineEnd()
{
    nms::test::TempDir dir;
    put(dir.database(), "[A]\r\nK=1\r\n[B]\nK=2\n[C]\rK=3\rL=4");
    QCOMPARE(valueOf(dir.database(), "A", "k"), QString("1"));
    QCOMPARE(valueOf(dir.database(), "B", "k"), QString("2"));
    QCOMPARE(valueOf(dir.database(), "C", "k"), QString("3"));
    QCOMPARE(valueOf(dir.database(), "C", "l"), QString("4"));
    QCOMPARE(PF::ReadSectionNames(dir.database()), QStringList({"A", "B", "C"}));
}

void TestProfileFile::rewriteKeepsLineEnds_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("crlf") << QByteArray("[A]\r\nX=1\r\n") << QByteArray("[A]\r\nX=1\r\nY=2\r\n");
    QTest::newRow("cr") << QByteArray("[A]\rX=1\r") << QByteArray("[A]\rX=1\rY=2\r");
    QTest::newRow("mixed: first line's end for new lines")
        << QByteArray("[A]\r\nX=1\n\n") << QByteArray("[A]\r\nX=1\nY=2\r\n\n");
    QTest::newRow("no end on last line") << QByteArray("[A]\nX=1") << QByteArray("[A]\nX=1\nY=2\n");
    QTest::newRow("no line end at all") << QByteArray("[A]") << QByteArray("[A]\nY=2\n");
    QTest::newRow("empty file") << QByteArray() << QByteArray("[A]\nY=2\n");
}

void TestProfileFile::rewriteKeepsLineEnds()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    nms::test::TempDir dir;
    put(dir.database(), before);
    QVERIFY(PF::WriteValues(dir.database(), "A", {{"Y", "2"}}));
    QCOMPARE(bytesOf(dir.database()), after);
}

void TestProfileFile::rewriteKeepsUnknownLines()
{
    nms::test::TempDir dir;
    const QByteArray head = "; made by hand\nORPHAN=1\n\n";
    put(dir.database(), head + "[A]\n# note=x\n  ; KEY=shadow\nno equals sign here\nKEY=old\n\n[B]\nK=1 \t\n");
    QCOMPARE(valueOf(dir.database(), "A", "# note"), QString("<absent>"));
    QCOMPARE(valueOf(dir.database(), "A", "key"), QString("old"));
    QCOMPARE(PF::ReadSectionEntries(dir.database(), "A"), QStringList({"KEY=old"}));

    QVERIFY(PF::WriteValues(dir.database(), "A", {{"KEY", "new"}, {"ADDED", "1"}}));
    QVERIFY(PF::WriteValues(dir.database(), "B", {{"L", "2"}}));
    QCOMPARE(bytesOf(dir.database()),
             head + "[A]\n# note=x\n  ; KEY=shadow\nno equals sign here\nKEY=new\nADDED=1\n\n[B]\nK=1 \t\nL=2\n");

    // Deleting a section takes its header and entries; the lines around them stay.
    QVERIFY(PF::DeleteSection(dir.database(), "a"));
    QCOMPARE(bytesOf(dir.database()), head + "# note=x\n  ; KEY=shadow\nno equals sign here\n\n[B]\nK=1 \t\nL=2\n");
}

void TestProfileFile::blanksQuotesAndHeaders()
{
    nms::test::TempDir dir;
    put(dir.database(), "  [ Sec One ]  \n\tKey\t = \t\"quoted value\"  \nA=b=c\n[x]y]\nk=1\n[open\nk=2\n");
    QCOMPARE(valueOf(dir.database(), "sec one", " KEY "), QString("\"quoted value\""));
    QCOMPARE(valueOf(dir.database(), "Sec One", "a"), QString("b=c"));
    // The name runs to the last "]"; "[open" is no header, so k=2 still belongs to "x]y".
    QCOMPARE(PF::ReadSectionNames(dir.database()), QStringList({"Sec One", "x]y"}));
    QCOMPARE(PF::ReadSectionEntries(dir.database(), "x]y"), QStringList({"k=1", "k=2"}));
}

void TestProfileFile::latin1CodePage()
{
    nms::test::TempDir dir;
    QVERIFY(PF::WriteValues(dir.database(), QString::fromUtf8("Zürich"),
                            {{PF::UpperName(QString::fromUtf8("clé")), QString::fromUtf8("é€")}}));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[Z\xFCrich]\nCL\xC9=\xE9?\n"));
    QCOMPARE(valueOf(dir.database(), QString::fromUtf8("ZÜRICH"), QString::fromUtf8("clé")), QString::fromUtf8("é?"));
    // Letters without a Latin-1 capital keep matching their own spelling.
    QCOMPARE(PF::UpperName(QString::fromUtf8("ÿßa")), QString::fromUtf8("ÿßA"));
    QVERIFY(PF::SameName(QString::fromUtf8(" àÿ "), QString::fromUtf8("Àÿ")));
}

void TestProfileFile::byteOrderMark()
{
    nms::test::TempDir dir;
    put(dir.database(), "\xEF\xBB\xBF[A]\nK=1\n[B]\nK=2\n");
    QCOMPARE(PF::ReadSectionNames(dir.database()), QStringList({"A", "B"}));
    QCOMPARE(valueOf(dir.database(), "A", "K"), QString("1"));
    QVERIFY(PF::DeleteSection(dir.database(), "A"));
    QCOMPARE(bytesOf(dir.database()), QByteArray("\xEF\xBB\xBF[B]\nK=2\n"));
}

void TestProfileFile::duplicatesFirstWins()
{
    nms::test::TempDir dir;
    put(dir.database(), "[A]\nK=1\nK=2\n[B]\nK=3\n[a]\nK=4\nL=5\n");
    QCOMPARE(valueOf(dir.database(), "A", "K"), QString("1"));
    QCOMPARE(valueOf(dir.database(), "A", "L"), QString("<absent>"));
    QCOMPARE(PF::ReadSectionNames(dir.database()), QStringList({"A", "B"}));
    QCOMPARE(PF::ReadSectionEntries(dir.database(), "a"), QStringList({"K=1", "K=2"}));

    QVERIFY(PF::WriteValues(dir.database(), "a", {{"K", "9"}}));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A]\nK=9\nK=2\n[B]\nK=3\n[a]\nK=4\nL=5\n"));
    QVERIFY(PF::DeleteKey(dir.database(), "A", "k"));
    QCOMPARE(valueOf(dir.database(), "A", "K"), QString("<absent>"));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A]\n[B]\nK=3\n[a]\nK=4\nL=5\n"));
    QVERIFY(PF::DeleteSection(dir.database(), "A"));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[B]\nK=3\n"));
}

void TestProfileFile::nulAndEmptyNames()
{
    nms::test::TempDir dir;
    QByteArray bytes = "[]\nK=1\n[B]\nK=x";
    bytes += '\0';
    bytes += 'y';
    bytes += '\0';
    bytes += '\n';
    put(dir.database(), bytes);
    QCOMPARE(valueOf(dir.database(), "B", "K"), QString("x y"));
    QCOMPARE(valueOf(dir.database(), "", "K"), QString("1"));
    QCOMPARE(PF::ReadSectionNames(dir.database()), QStringList({"B"}));
}

void TestProfileFile::injectedLineBreaksStayInTheirLine()
{
    nms::test::TempDir dir;
    const QString evil = QStringLiteral("v\n[EVIL]\r\nZ=1") + QChar(u'\0') + QStringLiteral("tail\r");
    QVERIFY(PF::WriteValues(dir.database(), "A\nB", {{"K\rX", evil}}));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A B]\nK X=v [EVIL]  Z=1 tail \n"));
    QCOMPARE(PF::ReadSectionNames(dir.database()), QStringList({"A B"}));
    QCOMPARE(valueOf(dir.database(), "A\rB", "K\nX"), QString("v [EVIL]  Z=1 tail"));
    QVERIFY(PF::DeleteKey(dir.database(), QString("A") + QChar(0) + "B", "K X"));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A B]\n"));
}

void TestProfileFile::unchangedFileIsNotRewritten()
{
    nms::test::TempDir dir;
    QVERIFY(PF::WriteValues(dir.database(), "A", {{"K", "1"}}));
    struct stat before {
    }, after {};
    QCOMPARE(::stat(QFile::encodeName(dir.database()).constData(), &before), 0);
    QVERIFY(PF::WriteValues(dir.database(), "a", {{"K", "1"}}));
    QVERIFY(PF::DeleteKey(dir.database(), "A", "missing"));
    QCOMPARE(::stat(QFile::encodeName(dir.database()).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    // A real change replaces the file instead of writing into it.
    QVERIFY(PF::WriteValues(dir.database(), "A", {{"K", "2"}}));
    QCOMPARE(::stat(QFile::encodeName(dir.database()).constData(), &after), 0);
    QVERIFY(after.st_ino != before.st_ino);
}

void TestProfileFile::missingFile()
{
    nms::test::TempDir dir;
    QCOMPARE(valueOf(dir.database(), "A", "K"), QString("<absent>"));
    QVERIFY(PF::ReadSectionNames(dir.database()).isEmpty());
    QVERIFY(PF::DeleteKey(dir.database(), "A", "K"));
    QVERIFY(PF::DeleteSection(dir.database(), "A"));
    QVERIFY(PF::WriteValues(dir.database(), "A", {}));
    QVERIFY(!QFile::exists(dir.database()));
    QVERIFY(PF::WriteValues(dir.database(), "A", {{"K", "1"}, {"L", "2"}, {"K", "3"}}));
    QCOMPARE(bytesOf(dir.database()), QByteArray("[A]\nK=3\nL=2\n"));
}

void TestProfileFile::listTransfer()
{
    QCOMPARE(PF::PackList({"ab", "c"}, 100), QString("ab") + QChar(0) + "c" + QChar(0) + QChar(0));
    QCOMPARE(PF::PackList({}, 100), QString(2, QChar(0)));
    // "ab" + NUL + "cd" + NUL + NUL needs 7: with 6 only the first item travels.
    QCOMPARE(PF::PackList({"ab", "cd"}, 7).size(), 7);
    QCOMPARE(PF::PackList({"ab", "cd"}, 6), QString("ab") + QChar(0) + QChar(0));
    QCOMPARE(PF::PackList({"toolong", "x"}, 5), QString(2, QChar(0)));
    QStringList names;
    for (int i = 0; i < 60; ++i)
        names.append(QString::number(100000000000LL + i));
    const QString packed = PF::PackList(names, 750);
    QVERIFY(packed.size() <= 750);
    QCOMPARE(PF::UnpackList(packed), names.mid(0, 57));
    QCOMPARE(PF::UnpackList(QString("a") + QChar(0) + QChar(0) + "b" + QChar(0)), QStringList({"a"}));
}

void TestProfileFile::refusedRewritesLeaveTheFile()
{
    nms::test::TempDir dir;
    // A file where a folder is expected.
    put(dir.file("plain"), "[A]\nK=1\n");
    const QString under = dir.file("plain/nms.ini");
    QVERIFY(!PF::WriteValues(under, "A", {{"K", "2"}}));
    QCOMPARE(bytesOf(dir.file("plain")), QByteArray("[A]\nK=1\n"));
    // A folder where the file is expected.
    QVERIFY(QDir(dir.path()).mkdir("nms.ini"));
    QVERIFY(!PF::WriteValues(dir.database(), "A", {{"K", "2"}}));
    QVERIFY(!PF::DeleteSection(dir.database(), "A"));
    QVERIFY(QFileInfo(dir.database()).isDir());
    // A folder nobody may create files in, root included.
    QVERIFY(!PF::WriteValues("/proc/nms.ini", "A", {{"K", "2"}}));
    QVERIFY(!QFile::exists("/proc/nms.ini"));
}

void TestProfileFile::fullDiskLeavesTheOldFile()
{
    nms::test::TempDir dir;
    const QByteArray old = "[A]\nK=1\n";
    put(dir.database(), old);
    // A file-size limit makes the rewrite hit "no space" half way through.
    rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = PF::WriteValues(dir.database(), "A", {{"K", QString(20000, 'x')}});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QCOMPARE(bytesOf(dir.database()), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"nms.ini"}));
}

void TestProfileFile::readOnlyFolderLeavesTheOldFile()
{
    // Root ignores permission bits, so the folder is made read-only by a bind mount, inside a
    // mount namespace of this process alone so that nothing outside ever sees it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        QSKIP("needs a private mount namespace (root)");
    nms::test::TempDir dir;
    const QByteArray old = "[A]\nK=1\nL=2\n";
    put(dir.database(), old);
    const QByteArray folder = QFile::encodeName(dir.path());
    QCOMPARE(::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr), 0);
    const int remounted = ::mount(nullptr, folder.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
    const bool wrote = PF::WriteValues(dir.database(), "A", {{"K", "2"}});
    const bool deletedKey = PF::DeleteKey(dir.database(), "A", "L");
    const bool deletedSection = PF::DeleteSection(dir.database(), "A");
    const bool same = PF::WriteValues(dir.database(), "A", {{"K", "1"}});
    ::umount2(folder.constData(), MNT_DETACH);
    QCOMPARE(remounted, 0);
    QVERIFY(!wrote);
    QVERIFY(!deletedKey);
    QVERIFY(!deletedSection);
    QVERIFY(same); // the file already holds it
    QCOMPARE(bytesOf(dir.database()), old);
}

void TestProfileFile::killMidWriteLeavesAWholeFile()
{
    nms::test::TempDir dir;
    const QByteArray base = killBase();
    put(dir.database(), base);
    const qsizetype at = base.indexOf("GEN=0\n");
    const QByteArray prefix = base.left(at);
    const QByteArray suffix = base.mid(at + 6);
    const QRegularExpression genLine(QStringLiteral("^GEN=(\\d+)\n$"));

    qint64 lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {kWriterSwitch, dir.database()});
        QVERIFY(writer.waitForStarted());
        QVERIFY(writer.waitForReadyRead(10000));
        // The kill lands at a random moment of some later rewrite.
        std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(30000)));
        writer.kill();
        QVERIFY(writer.waitForFinished(10000));
        const QList<QByteArray> reported = writer.readAllStandardOutput().split('\n');
        qint64 committed = 0;
        for (const QByteArray& n : reported)
            committed = std::max(committed, n.toLongLong());
        QVERIFY(committed > lastSeen);

        const QByteArray now = bytesOf(dir.database());
        QVERIFY2(now.startsWith(prefix) && now.endsWith(suffix), qPrintable(QString("round %1").arg(round)));
        const auto match =
            genLine.match(QString::fromLatin1(now.mid(prefix.size(), now.size() - prefix.size() - suffix.size())));
        QVERIFY(match.hasMatch());
        const qint64 gen = match.captured(1).toLongLong();
        // Either the last value it reported or the one it was writing when killed.
        QVERIFY2(gen == committed || gen == committed + 1,
                 qPrintable(QString("gen %1 after %2").arg(gen).arg(committed)));
        QCOMPARE(PF::ReadSectionNames(dir.database()).size(), kKillSections);
        QCOMPARE(valueOf(dir.database(), "S2999", "ip"), QString("10.0.11.249"));
        lastSeen = gen;
    }
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], kWriterSwitch) == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TestProfileFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_profilefile.moc"
