// The real program on a real X desktop (Xvfb with a notification area from trayer): the window
// shows rounded and black with its title band and the product's name as one word, hides to the
// tray and comes back on a click of the icon, a second copy is told and ends, and SIGTERM ends the
// first without touching nms.ini. Then, inside a namespace LAN with one simulated element, a
// discovery started from the window's button leaves its traffic trace with --trace, none without.

#include <QtTest>

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "support/TestNetwork.h"

namespace {

QString Binary()
{
    return qEnvironmentVariable("NMS_BINARY_DIR") + QStringLiteral("/orbilane-nms");
}

QString Tool(const char* name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

QString Run(const QStringList& command, const QString& display, int* exitCode = nullptr)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(environment);
    process.start(command.first(), command.mid(1));
    process.waitForFinished(10000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Moves the pointer, then presses and releases in commands of their own: a press that arrives
// together with the move can reach a button before it knows the pointer is over it.
void Click(const QString& display, QPoint at, int button)
{
    Run({Tool("xdotool"), QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}, display);
    Run({Tool("xdotool"), QStringLiteral("mousedown"), QString::number(button)}, display);
    Run({Tool("xdotool"), QStringLiteral("mouseup"), QString::number(button)}, display);
}

// A key typed into a window. The window may be gone before the key is let go (a box closes on the
// press), which ends xdotool early: the key is let go again on its own, or it would stay down and
// repeat into whatever comes next.
void Key(const QString& display, qulonglong window, const QString& key)
{
    Run({Tool("xdotool"), QStringLiteral("key"), QStringLiteral("--window"), QString::number(window), key}, display);
    Run({Tool("xdotool"), QStringLiteral("keyup"), key}, display);
}

struct WindowBox {
    qulonglong id = 0;
    QRect geometry;
};

// The widest run of background columns between the first and the last inked column of x in
// [left, right) of the title band, relative to the window; -1 when nothing is inked there.
int WidestGap(const QImage& image, QPoint window, int left, int right, const QColor& band)
{
    int widest = -1, run = 0;
    for (int x = left; x < right; ++x) {
        bool ink = false;
        for (int y = 2; y < 28 && !ink; ++y)
            ink = image.pixelColor(window + QPoint(x, y)) != band;
        if (!ink) {
            ++run;
            continue;
        }
        widest = widest < 0 ? 0 : std::max(widest, run);
        run = 0;
    }
    return widest;
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void consoleOnTheDesktop();
    void traceOfADiscovery_data();
    void traceOfADiscovery();

private:
    QList<WindowBox> windows(const QString& searchArgument, const QString& value, bool visibleOnly);
    // The console's icon docked and shown in trayer's panel, in screen coordinates; empty until then.
    QRect trayIcon();
    QProcess* startConsole();

    QProcess xvfb_;
    QProcess trayer_;
    QString display_;
    QTemporaryDir folder_;
};

QList<WindowBox> TestDesktop::windows(const QString& searchArgument, const QString& value, bool visibleOnly)
{
    QStringList command {Tool("xdotool"), QStringLiteral("search")};
    if (visibleOnly)
        command << QStringLiteral("--onlyvisible");
    command << searchArgument << value;
    QList<WindowBox> found;
    for (const QString& line : Run(command, display_).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        WindowBox box;
        box.id = line.toULongLong();
        const QString shell =
            Run({Tool("xdotool"), QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), line}, display_);
        QMap<QString, int> values;
        for (const QString& pair : shell.split(QLatin1Char('\n'))) {
            const QStringList parts = pair.split(QLatin1Char('='));
            if (parts.size() == 2)
                values[parts[0]] = parts[1].toInt();
        }
        box.geometry = QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
        found.append(box);
    }
    return found;
}

QRect TestDesktop::trayIcon()
{
    static const QRegularExpression iconLine(
        QStringLiteral("^\\s*(0x[0-9a-f]+) .*\\(\"orbilane-nms\" "
                       "\"orbilane-nms\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)"),
        QRegularExpression::MultilineOption);
    const QString panel =
        Run({Tool("xdotool"), QStringLiteral("search"), QStringLiteral("--classname"), QStringLiteral("^panel$")},
            display_);
    if (panel.isEmpty())
        return {};
    const QRegularExpressionMatch m = iconLine.match(
        Run({Tool("xwininfo"), QStringLiteral("-tree"), QStringLiteral("-id"), panel.section(QLatin1Char('\n'), 0, 0)},
            display_));
    if (!m.hasMatch()
        || !Run({Tool("xwininfo"), QStringLiteral("-id"), m.captured(1)}, display_)
                .contains(QLatin1String("IsViewable")))
        return {};
    return QRect(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

void TestDesktop::initTestCase()
{
    QVERIFY(folder_.isValid());
    QVERIFY(QFile::copy(Binary(), folder_.filePath(QStringLiteral("orbilane-nms"))));
    QFile database(folder_.filePath(QStringLiteral("nms.ini")));
    QVERIFY(database.open(QIODevice::WriteOnly));
    database.write("[00A0C9F81E24]\nNAME=STUDIO TX       \nIP=127.0.0.10\nMASK=255.0.0.0\nGW=127.0.0.1\n"
                   "REMOTE=127.0.0.11\nINPUT=1\nTYPE=1\nTX=0\nROLE=1\nSN=37\n");
    database.close();

    xvfb_.setProgram(Tool("Xvfb"));
    xvfb_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
    xvfb_.start();
    QVERIFY(xvfb_.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(xvfb_.canReadLine(), 10000);
    display_ = QStringLiteral(":") + QString::fromLatin1(xvfb_.readLine()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    trayer_.setProcessEnvironment(environment);
    trayer_.start(Tool("trayer"),
                  {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--widthtype"),
                   QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("200"),
                   QStringLiteral("--height"), QStringLiteral("32")});
    QVERIFY(trayer_.waitForStarted());
    // The notification area is there before any console looks for it. It is waited for as long as
    // trayer runs, not for a fixed time: on a loaded machine its panel has taken over 30 s to show,
    // and CTest's time-out still ends a run where it never does.
    const QStringList panelShown {Tool("xdotool"), QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                  QStringLiteral("--classname"), QStringLiteral("^panel$")};
    while (Run(panelShown, display_).trimmed().isEmpty()) {
        QVERIFY2(trayer_.state() == QProcess::Running,
                 qPrintable(QStringLiteral("trayer ended before its panel showed: ")
                            + QString::fromLocal8Bit(trayer_.readAllStandardError())));
        QTest::qWait(100);
    }
}

void TestDesktop::cleanupTestCase()
{
    for (QProcess* process : {&trayer_, &xvfb_}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
        }
    }
}

QProcess* TestDesktop::startConsole()
{
    auto* process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_.path()); // its own instance lock
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(folder_.path());
    QStringList command {folder_.filePath(QStringLiteral("orbilane-nms"))};
    // Its own network namespace where the system allows it, so port 2976 of the host is not used.
    if (::geteuid() == 0 && !Tool("unshare").isEmpty())
        command.prepend(QStringLiteral("-n")), command.prepend(Tool("unshare"));
    process->start(command.first(), command.mid(1));
    return process;
}

void TestDesktop::consoleOnTheDesktop()
{
    QFile database(folder_.filePath(QStringLiteral("nms.ini")));
    QVERIFY(database.open(QIODevice::ReadOnly));
    const QByteArray stored = database.readAll();
    database.close();

    QProcess* first = startConsole();
    QVERIFY(first->waitForStarted());
    QList<WindowBox> main;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(main = windows(QStringLiteral("--name"), QStringLiteral("^Orbilane NMS$"), true)).isEmpty(), 15000);
    const QRect frame = main.first().geometry;
    QCOMPARE(frame.size(), QSize(458, 321));
    // Centred on the 1024 x 768 screen.
    QVERIFY(qAbs(frame.center().x() - 512) <= 1 && qAbs(frame.center().y() - 384) <= 1);

    // The tray icon docks in the notification area: however long the desktop takes, it comes.
    QRect icon;
    QTRY_VERIFY_WITH_TIMEOUT(!(icon = trayIcon()).isEmpty(), 60000);

    // A screenshot: black inside, the dark-blue title band, the rounded corner clipped away.
    const QString shot = qEnvironmentVariable("NMS_BINARY_DIR") + QStringLiteral("/desktop-console.png");
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int code = -1;
            Run({Tool("import"), QStringLiteral("-window"), QStringLiteral("root"), shot}, display_, &code);
            const QImage image(shot);
            return code == 0 && !image.isNull()
                && image.pixelColor(frame.topLeft() + QPoint(300, 15)) == QColor(0, 0, 64)
                && image.pixelColor(frame.topLeft() + QPoint(229, 230)).value() < 40
                && image.pixelColor(frame.topLeft() + QPoint(229, 32)) == QColor(Qt::white);
        }(),
        10000);
    qInfo("screenshot: %s", qPrintable(shot));
    // The product's name reads as one word: no more background between the ink of its two parts
    // than between two letters of "Kestrion" beside it.
    const QImage image(shot);
    const int inName = WidestGap(image, frame.topLeft(), 30, 100, QColor(0, 0, 64));
    const int inLogo = WidestGap(image, frame.topLeft(), 100, 300, QColor(0, 0, 64));
    QVERIFY2(inName >= 0 && inLogo >= 0 && inLogo <= inName,
             qPrintable(QStringLiteral("gaps of %1 and %2 px").arg(inName).arg(inLogo)));

    // Minimise to the tray, then a left click on the icon brings the window back; the same with
    // the right button, which then opens the tray's menu. A click the window missed is simply made
    // again.
    const auto shown = [&] {
        return !windows(QStringLiteral("--name"), QStringLiteral("^Orbilane NMS$"), true).isEmpty();
    };
    const auto consoleWindows = [&] {
        return windows(QStringLiteral("--classname"), QStringLiteral("orbilane-nms"), true).size();
    };
    const qsizetype withoutMenu = consoleWindows();
    const QPoint minimise = frame.topLeft() + QPoint(404, 16);
    for (int button : {1, 3}) {
        for (int attempt = 0; attempt < 5 && shown(); ++attempt) {
            Click(display_, minimise, 1);
            (void)QTest::qWaitFor([&] { return !shown(); }, 2000);
        }
        QVERIFY(!shown());
        for (int attempt = 0; attempt < 5 && !shown(); ++attempt) {
            Click(display_, icon.center(), button);
            (void)QTest::qWaitFor(shown, 2000);
        }
        QVERIFY(shown());
    }
    // The menu is one more window of the console's while it is open; Escape closes it.
    QTRY_COMPARE_WITH_TIMEOUT(consoleWindows(), withoutMenu + 1, 30000);
    Run({Tool("xdotool"), QStringLiteral("key"), QStringLiteral("Escape")}, display_);
    QTRY_COMPARE_WITH_TIMEOUT(consoleWindows(), withoutMenu, 30000);

    // A second copy shows its message and ends once it is answered; the first keeps running.
    QProcess* second = startConsole();
    QVERIFY(second->waitForStarted());
    QList<WindowBox> box;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(box = windows(QStringLiteral("--name"), QStringLiteral("^Kestrion NMS$"), true)).isEmpty(), 15000);
    Key(display_, box.first().id, QStringLiteral("Return"));
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(windows(QStringLiteral("--name"), QStringLiteral("^Orbilane NMS$"), true).size(), 1);

    // SIGTERM ends it cleanly: no window or tray icon left, the database untouched.
    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(windows(QStringLiteral("--classname"), QStringLiteral("orbilane-nms"), false).isEmpty(),
                             5000);
    QVERIFY(database.open(QIODevice::ReadOnly));
    QCOMPARE(database.readAll(), stored);
}

void TestDesktop::traceOfADiscovery_data()
{
    QTest::addColumn<bool>("trace");
    QTest::newRow("with --trace") << true;
    QTest::newRow("without") << false;
}

void TestDesktop::traceOfADiscovery()
{
    QFETCH(bool, trace);
    QString reason;
    if (!nms::test::TestNetwork::available(&reason))
        QSKIP(qPrintable(reason));
    nms::test::TestNetwork net(1);
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QVERIFY(net.startSimulator(1, {"--name", "TRACED"}));
    QString interfaceIndex;
    QCOMPARE(net.runIn(net.consoleNamespace(), {"cat", "/sys/class/net/eth0/ifindex"}, &interfaceIndex), 0);
    const QString key = net.elementMac(1).remove(QLatin1Char(':')).toUpper();

    // An element stored before, so that the console starts without a box.
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("nms.ini"));
    QFile file(database);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[0200000001AA]\nNAME=OLD\nIP=10.77.0.99\n");
    file.close();

    // Inside the console's namespace the X server is reached through its socket file.
    QProcess console;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    // Every log line on standard error either way, so that a line missing there is not written.
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    // A tenth of the product's periods: the paging window is over in 300 ms instead of 3 s.
    environment.insert(QStringLiteral("NMS_TEST_TIMING_DIVISOR"), QStringLiteral("10"));
    console.setProcessEnvironment(environment);
    QStringList arguments {QStringLiteral("netns"), QStringLiteral("exec"), net.consoleNamespace(), Binary()};
    if (trace)
        arguments << QStringLiteral("--trace");
    console.start(QStringLiteral("ip"), arguments << QStringLiteral("--database") << database);
    QVERIFY(console.waitForStarted());
    QList<WindowBox> main;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(main = windows(QStringLiteral("--name"), QStringLiteral("^Orbilane NMS$"), true)).isEmpty(), 15000);

    // The discover button, then Yes to the question; the element's answer is written and the paging
    // window goes.
    const auto question = [&] { return windows(QStringLiteral("--name"), QStringLiteral("^Auto Discovery$"), true); };
    for (int attempt = 0; attempt < 5 && question().isEmpty(); ++attempt) {
        Click(display_, main.first().geometry.topLeft() + QPoint(412, 76), 1);
        (void)QTest::qWaitFor([&] { return !question().isEmpty(); }, 2000);
    }
    QList<WindowBox> box = question();
    QCOMPARE(box.size(), 1);
    Key(display_, box.first().id, QStringLiteral("y"));
    const auto firstLine = [&] {
        QFile written(database);
        return written.open(QIODevice::ReadOnly) ? written.readLine().trimmed() : QByteArray();
    };
    const auto paging = [&] {
        return !windows(QStringLiteral("--name"), QStringLiteral("^Paging network"), true).isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(firstLine() == '[' + key.toLatin1() + ']' && !paging(), 60000);

    ::kill(pid_t(console.processId()), SIGTERM);
    QVERIFY(console.waitForFinished(10000));
    QCOMPARE(console.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(console.readAllStandardError());
    const QStringList expected {
        QStringLiteral("orbilane.link: sent to 255.255.255.255:1901 PagingRequest 32 bytes on interface %1: ")
            .arg(interfaceIndex.trimmed()),
        QStringLiteral("orbilane.link: received from %1:2976 ElementFeedback 40 bytes: ").arg(net.elementIp(1)),
        QStringLiteral("orbilane.store: wrote %1 1 sections: %2\n").arg(database, key)};
    for (const QString& line : expected)
        QVERIFY2(err.contains(line) == trace, qPrintable(line + QStringLiteral("\nin:\n") + err));
    QVERIFY2(trace || !err.contains(QLatin1String("orbilane.")), qPrintable(err));
}

int main(int argc, char* argv[])
{
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo", "import"}) {
        if (Tool(tool).isEmpty()) {
            std::printf("SKIP: %s is not installed (scripts/install-deps.sh installs it)\n", tool);
            return 77;
        }
    }
    QCoreApplication app(argc, argv);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop_e2e.moc"
