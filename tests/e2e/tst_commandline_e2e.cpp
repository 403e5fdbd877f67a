// The real program's command line and the place of its database: --help and --version with no
// display at all, a bad option refused with the usage and status 2, and where nms.ini lives when
// the program's folder is writable, when it is not (an installed program run by a desktop user),
// and when --database names it. The folder rule is checked as an ordinary user, since root may
// write anywhere.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

QString Binary()
{
    return qEnvironmentVariable("NMS_BINARY_DIR") + QStringLiteral("/orbilane-nms");
}

struct Run {
    int exitCode = -1;
    QString out, err;
};

// With no display and no platform chosen: a window would abort the program.
Run RunWithoutDisplay(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(Binary(), arguments);
    Run run;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void withoutDisplay_data();
    void withoutDisplay();
    void databasePlace_data();
    void databasePlace();
};

void TestCommandLine::withoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("version") << QStringList {"--version"} << 0 << "orbilane-nms 2.0.1\n"
                             << "";
    QTest::newRow("help") << QStringList {"--help"} << 0 << "--database <path>"
                          << "";
    QTest::newRow("bad option") << QStringList {"--no-such-option"} << 2 << ""
                                << "Unknown option 'no-such-option'.";
    QTest::newRow("stray argument") << QStringList {"nms.ini"} << 2 << ""
                                    << "Unexpected argument 'nms.ini'.";
}

void TestCommandLine::withoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Run run = RunWithoutDisplay(arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 0) {
        QVERIFY2(out.endsWith('\n') ? run.out == out : run.out.contains(out), qPrintable(run.out));
        QCOMPARE(run.err, QString());
    } else {
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(err) && run.err.contains(QStringLiteral("Usage:")), qPrintable(run.err));
    }
}

void TestCommandLine::databasePlace_data()
{
    QTest::addColumn<bool>("programFolderWritable");
    QTest::addColumn<bool>("commandLine");
    QTest::newRow("portable: beside the program") << true << false;
    QTest::newRow("installed: the per-user data folder") << false << false;
    QTest::newRow("--database wins") << false << true;
}

void TestCommandLine::databasePlace()
{
    QFETCH(bool, programFolderWritable);
    QFETCH(bool, commandLine);
    if (::getuid() != 0)
        QSKIP("Needs root to run the program as an ordinary user (root may write to any folder)");
    constexpr uid_t user = 65534; // nobody
    QTemporaryDir top;
    QVERIFY(QFile::setPermissions(top.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                      | QFileDevice::ExeGroup | QFileDevice::ExeOther));
    const QString program = top.filePath(QStringLiteral("bin"));
    const QString home = top.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(program) && QDir().mkpath(home));
    QVERIFY(QFile::copy(Binary(), program + QStringLiteral("/orbilane-nms")));
    QVERIFY(::chown(qPrintable(home), user, user) == 0);
    if (programFolderWritable)
        QVERIFY(::chown(qPrintable(program), user, user) == 0);
    const QString chosen = top.filePath(QStringLiteral("home/chosen.ini"));
    const QString expected = commandLine ? chosen
        : programFolderWritable          ? program + QStringLiteral("/nms.ini")
                                         : home + QStringLiteral("/.local/share/orbilane-nms/nms.ini");

    QProcess console;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    console.setProcessEnvironment(environment);
    QStringList arguments = {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                             QStringLiteral("--clear-groups"), program + QStringLiteral("/orbilane-nms"),
                             QStringLiteral("--trace")};
    if (commandLine)
        arguments << QStringLiteral("--database") << chosen;
    console.start(QStringLiteral("setpriv"), arguments);
    QVERIFY(console.waitForStarted());
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromLocal8Bit(console.readAllStandardError()))
                                 .contains(QStringLiteral("Local database is empty.")),
                             10000);
    console.terminate();
    QVERIFY(console.waitForFinished(10000));
    QVERIFY2(err.contains(QStringLiteral("database in use: ") + expected), qPrintable(err));
    // The per-user folder is there for the first write; nothing was written at start-up.
    QVERIFY(QFileInfo(QFileInfo(expected).absolutePath()).isDir());
    QVERIFY(!QFile::exists(expected));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline_e2e.moc"
