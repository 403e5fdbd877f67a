// The real program on a real X desktop (Xvfb with a notification area from trayer): the window
// shows rounded and black with its title band, hides to the tray and comes back on a click of the
// icon, a second copy is told and ends, and SIGTERM ends the first without touching nms.ini.

#include <QtTest>

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <unistd.h>

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

struct WindowBox {
    qulonglong id = 0;
    QRect geometry;
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void consoleOnTheDesktop();

private:
    QList<WindowBox> windows(const QString& searchArgument, const QString& value, bool visibleOnly);
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

void TestDesktop::initTestCase()
{
    QVERIFY(folder_.isValid());
    QVERIFY(QFile::copy(Binary(), folder_.filePath(QStringLiteral("orbilane-nms"))));
    QFile database(folder_.filePath(QStringLiteral("nms.ini")));
    QVERIFY(database.open(QIODevice::WriteOnly));
    database.write("[00A0C9F81E24]\nNAME=STUDIO TX       \nIP=192.0.2.10\nMASK=255.255.255.0\nGW=192.0.2.1\n"
                   "REMOTE=192.0.2.11\nINPUT=1\nTYPE=1\nTX=0\nROLE=1\nSN=37\n");
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

    // The tray icon docks in the notification area.
    QList<WindowBox> icons;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(icons = windows(QStringLiteral("--classname"), QStringLiteral("orbilane-nms"), true)).isEmpty()
            && std::any_of(icons.begin(), icons.end(), [](const WindowBox& b) { return b.geometry.width() < 64; }),
        15000);
    QRect icon;
    for (const WindowBox& box : icons)
        if (box.geometry.width() < 64)
            icon = box.geometry;

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

    // Minimise to the tray, then a left click on the icon brings the window back; the same with
    // the right button (no menu). A click the window missed is simply made again.
    const auto shown = [&] {
        return !windows(QStringLiteral("--name"), QStringLiteral("^Orbilane NMS$"), true).isEmpty();
    };
    const QPoint minimise = frame.topLeft() + QPoint(404, 16);
    for (int button : {1, 3}) {
        for (int attempt = 0; attempt < 5 && shown(); ++attempt) {
            Click(display_, minimise, 1);
            QTest::qWaitFor([&] { return !shown(); }, 2000);
        }
        QVERIFY(!shown());
        for (int attempt = 0; attempt < 5 && !shown(); ++attempt) {
            Click(display_, icon.center(), button);
            QTest::qWaitFor(shown, 2000);
        }
        QVERIFY(shown());
    }

    // A second copy shows its message and ends once it is answered; the first keeps running.
    QProcess* second = startConsole();
    QVERIFY(second->waitForStarted());
    QList<WindowBox> box;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(box = windows(QStringLiteral("--name"), QStringLiteral("^Kestrion NMS$"), true)).isEmpty(), 15000);
    Run({Tool("xdotool"), QStringLiteral("key"), QStringLiteral("--window"), QString::number(box.first().id),
         QStringLiteral("Return")},
        display_);
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

int main(int argc, char* argv[])
{
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "import"}) {
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
