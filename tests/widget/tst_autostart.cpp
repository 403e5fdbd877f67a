// "Start with the desktop session": the XDG autostart entry written and removed, valid for
// desktop-file-validate, starting the console hidden (and --hidden read from the command line).
#include "shell/Autostart.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "shell/CommandLine.h"

using namespace nms;

class TestAutostart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void entry_data();
    void entry();
    void hiddenOption();

private:
    QTemporaryDir config_;
};

void TestAutostart::initTestCase()
{
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
}

void TestAutostart::entry_data()
{
    // The program the entry starts and the Exec= line it gets.
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("exec");
    QTest::newRow("a copy off PATH") << "/opt/orbilane/orbilane-nms"
                                     << QByteArray("Exec=/opt/orbilane/orbilane-nms --hidden");
    QTest::newRow("a path to quote") << "/home/op/my \"test\" $build/orbilane-nms"
                                     << QByteArray(
                                            "Exec=\"/home/op/my \\\\\"test\\\\\" \\\\$build/orbilane-nms\" --hidden");
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("sh"));
    QTest::newRow("the one on PATH by name") << onPath << QByteArray("Exec=sh --hidden");
}

void TestAutostart::entry()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, exec);
    QString error;
    QVERIFY(!AutostartEnabled());
    QVERIFY2(SetAutostart(true, program, &error), qPrintable(error));
    QVERIFY(AutostartEnabled());
    QCOMPARE(AutostartPath(), config_.filePath(QStringLiteral("autostart/example.kestrion.orbilane_nms.desktop")));
    QFile file(AutostartPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().split('\n').contains(exec));
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {AutostartPath()});
        QVERIFY(validate.waitForFinished(10000));
        const QByteArray said = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(validate.exitCode() == 0 && said.isEmpty(), said.constData());
    }
    // Written again, then removed, then removed once more: no error either time.
    QVERIFY(SetAutostart(true, program, &error));
    QVERIFY(SetAutostart(false, program, &error));
    QVERIFY(!AutostartEnabled());
    QVERIFY(SetAutostart(false, program, &error));
}

void TestAutostart::hiddenOption()
{
    QVERIFY(ParseCommandLine({"orbilane-nms", "--hidden"}).hidden);
    QVERIFY(!ParseCommandLine({"orbilane-nms"}).hidden);
}

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
