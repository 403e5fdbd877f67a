#include "services/InstanceLock.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using nms::InstanceLock;

namespace {

// When the test binary is started with this variable set, it only takes the lock at the path
// it names, says so on stdout and waits to be killed.
constexpr char kHolderVariable[] = "NMS_TEST_LOCK_HOLDER";

int runAsHolder(const QString& path)
{
    InstanceLock lock(path);
    std::puts(lock.tryLock() == InstanceLock::Result::Acquired ? "locked" : "refused");
    std::fflush(stdout);
    std::getchar(); // blocks until killed (or stdin closes)
    return 0;
}

} // namespace

class TestInstanceLock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void secondLockFailsWhileFirstHolds();
    void unusableLockFileIsNoSecondCopy_data();
    void unusableLockFileIsNoSecondCopy();
    void killedHolderLeavesNoStuckLock();
    void defaultPathFollowsRuntimeDir();
};

void TestInstanceLock::secondLockFailsWhileFirstHolds()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nms.lock"));
    {
        InstanceLock first(path);
        QCOMPARE(first.tryLock(), InstanceLock::Result::Acquired);
        QCOMPARE(first.tryLock(), InstanceLock::Result::Acquired); // holding it already is still "only copy"
        InstanceLock second(path);
        QCOMPARE(second.tryLock(), InstanceLock::Result::HeldByOther);
        QCOMPARE(second.tryLock(), InstanceLock::Result::HeldByOther);
    }
    // Both gone, and the file they leave behind does not count as a holder.
    QVERIFY(QFile::exists(path));
    InstanceLock third(path);
    QCOMPARE(third.tryLock(), InstanceLock::Result::Acquired);
}

void TestInstanceLock::unusableLockFileIsNoSecondCopy_data()
{
    QTest::addColumn<QString>("relative");
    // XDG_RUNTIME_DIR pointing at a regular file, a folder that is not there, a link planted
    // where the lock file should be.
    QTest::newRow("folder is a file") << "file/nms.lock";
    QTest::newRow("missing folder") << "missing/dir/nms.lock";
    QTest::newRow("planted link") << "link.lock";
}

void TestInstanceLock::unusableLockFileIsNoSecondCopy()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("file")), dir.filePath(QStringLiteral("link.lock"))));

    InstanceLock lock(dir.filePath(relative));
    QCOMPARE(lock.tryLock(), InstanceLock::Result::Failed);
    QVERIFY(!lock.errorString().isEmpty());
}

void TestInstanceLock::killedHolderLeavesNoStuckLock()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nms.lock"));
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kHolderVariable), path);
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine(), 10000);
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    InstanceLock mine(path);
    QCOMPARE(mine.tryLock(), InstanceLock::Result::HeldByOther);

    holder.kill(); // SIGKILL: no destructor runs in the holder
    QVERIFY(holder.waitForFinished());
    QCOMPARE(holder.exitStatus(), QProcess::CrashExit);
    QVERIFY(QFile::exists(path));
    QCOMPARE(mine.tryLock(), InstanceLock::Result::Acquired);
}

void TestInstanceLock::defaultPathFollowsRuntimeDir()
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", "/run/user/1234");
    QCOMPARE(InstanceLock::DefaultPath(), QStringLiteral("/run/user/1234/orbilane-nms.lock"));
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(InstanceLock::DefaultPath(), QStringLiteral("/tmp/orbilane-nms-%1.lock").arg(::getuid()));
    if (wasSet)
        qputenv("XDG_RUNTIME_DIR", saved);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(kHolderVariable))
        return runAsHolder(qEnvironmentVariable(kHolderVariable));
    QCoreApplication app(argc, argv);
    TestInstanceLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instancelock.moc"
