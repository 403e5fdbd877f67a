// orbilane-watch, the real program, on a namespace LAN with simulated elements, as systemd
// would run it: READY=1, STATUS= and WATCHDOG=1 read from a real Unix datagram socket named by
// NOTIFY_SOCKET; the metrics scraped over HTTP on the LAN and passed through promtool; an
// element taken off the network showing orbilane_element_up 0; a reload (SIGHUP) that adds and
// drops elements and keeps the state of the one unchanged; orbilanectl told that the service
// holds the port; SIGTERM ending it within a second with console-stopped.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "database/ElementRecords.h"
#include "database/ElementStore.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr quint16 kMetricsPort = 29760;

// The service manager's end of the notify protocol: a bound datagram socket, every message kept.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : path_(path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool bound() const { return bound_; }
    // Every message received so far, in order.
    const QList<QByteArray>& messages()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;)
            messages_.append(QByteArray(buffer, int(n)));
        return messages_;
    }
    bool received(const QByteArray& item)
    {
        for (const QByteArray& message : messages()) {
            if (message.split('\n').contains(item))
                return true;
        }
        return false;
    }
    QByteArray lastStatus()
    {
        QByteArray status;
        for (const QByteArray& message : messages()) {
            for (const QByteArray& item : message.split('\n')) {
                if (item.startsWith("STATUS="))
                    status = item.mid(7);
            }
        }
        return status;
    }
    void clear() { messages_.clear(), messages(); }

private:
    QString path_;
    int fd_ = -1;
    bool bound_ = false;
    QList<QByteArray> messages_;
};

QString Key(const TestNetwork& net, int i)
{
    return MacTextToKey(net.elementMac(i).toUpper());
}

// The sample of one family for the element at `ip`, or an empty string.
QString Sample(const QByteArray& text, const QString& family, const QString& ip)
{
    const QRegularExpression line(
        QStringLiteral("^%1\\{[^}]*ip=\"%2\"[^}]*\\} (\\S+)$").arg(family, QRegularExpression::escape(ip)),
        QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(text)).captured(1);
}

} // namespace

class TestWatchE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aroundTheClock();

private:
    QByteArray scrape(QString* contentType = nullptr);

    TestNetwork* net_ = nullptr;
    QNetworkAccessManager http_;
};

QByteArray TestWatchE2e::scrape(QString* contentType)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://%1:%2/metrics").arg(net_->consoleIp()).arg(kMetricsPort)));
    request.setTransferTimeout(2000);
    QNetworkReply* reply = http_.get(request);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    if (contentType)
        *contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

void TestWatchE2e::aroundTheClock()
{
    TestNetwork net(2);
    net_ = &net;
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QVERIFY(net.enterConsoleNamespace());
    QTemporaryDir dir;
    const QString control = dir.filePath(QStringLiteral("e1.control"));
    QVERIFY(net.startSimulator(1, {"--name", "STUDIO \"A\" TX", "--control", control, "--level-dbfs", "-12"}));
    QVERIFY(net.startSimulator(2, {"--role", "decoder", "--name", "SITE RX"}));

    // Both elements stored, the periods short, the metrics on the console's LAN address.
    const QString database = dir.filePath(QStringLiteral("state/nms.ini"));
    const QString settings = dir.filePath(QStringLiteral("orbilane-nms.conf"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("state"))));
    ElementStore store(database);
    QVERIFY(store.write(Key(net, 1), {{"name", "STUDIO \"A\" TX"}, {"ip", net.elementIp(1)}, {"role", "1"}}));
    QVERIFY(store.write(Key(net, 2), {{"name", "SITE RX"}, {"ip", net.elementIp(2)}, {"role", "2"}}));
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[monitor]\npresence_period_ms=200\nmisses_for_down=2\naudio_period_ms=100\n"
                              "metrics_listen=%1:%2\n")
                   .arg(net.consoleIp())
                   .arg(kMetricsPort)
                   .toUtf8());
    file.close();

    NotifySocket notify(dir.filePath(QStringLiteral("notify")));
    QVERIFY(notify.bound());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath(QStringLiteral("notify")));
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    environment.remove(QStringLiteral("WATCHDOG_PID"));
    environment.remove(QStringLiteral("JOURNAL_STREAM"));
    environment.insert(QStringLiteral("NMS_WATCH_LOCK"), dir.filePath(QStringLiteral("watch.lock")));
    QProcess watch;
    watch.setProcessEnvironment(environment);
    watch.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The unit's umask, under which the lock must still be readable by the console's user.
    watch.setChildProcessModifier([] { ::umask(027); });
    watch.start(TestNetwork::binaryDir() + QStringLiteral("/orbilane-watch"),
                {"--database", database, "--config", settings});
    QVERIFY(watch.waitForStarted());
    QString out;
    const auto events = [&watch, &out] {
        out += QString::fromUtf8(watch.readAllStandardOutput());
        return out;
    };

    // Ready once bound and read; the status follows the monitor; the watchdog is fed.
    QTRY_VERIFY_WITH_TIMEOUT(notify.received("READY=1"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(notify.lastStatus(), QByteArray("2 elements: 2 up"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(notify.received("WATCHDOG=1"), 2000);

    // The metrics over HTTP: the exposition format as promtool reads it, both elements up.
    QString type;
    QByteArray text;
    QTRY_VERIFY_WITH_TIMEOUT(
        !Sample(text = scrape(&type), "orbilane_encoder_audio_peak_dbfs", net.elementIp(1)).isEmpty(), 5000);
    QVERIFY2(type.startsWith(QStringLiteral("text/plain; version=0.0.4")), qPrintable(type));
    QCOMPARE(Sample(text, "orbilane_element_up", net.elementIp(2)), QStringLiteral("1"));
    QVERIFY(text.contains("name=\"STUDIO \\\"A\\\" TX\""));
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (!promtool.isEmpty()) {
        QProcess check;
        check.start(promtool, {"check", "metrics"});
        check.write(text);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(10000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput() + check.readAllStandardError());
    }

    // The lock is readable by anyone, so a console of any user can ask it.
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("watch.lock"))).permissions() & QFileDevice::ReadOther);

    // orbilanectl is told the service holds the port, and what to do.
    QProcess ctl;
    ctl.setProcessEnvironment(environment);
    ctl.start(TestNetwork::binaryDir() + QStringLiteral("/orbilanectl"),
              {"discover", "--no-store", "--database", database, "--window-ms", "100"});
    QVERIFY(ctl.waitForFinished(10000));
    const QString said = QString::fromUtf8(ctl.readAllStandardError());
    QCOMPARE(ctl.exitCode(), 3);
    QVERIFY2(said.contains("systemctl stop orbilane-watch") && said.contains("list"), qPrintable(said));

    // A second watch finds the port taken: a clear message and the status systemd's restart
    // back-off takes.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(TestNetwork::binaryDir() + QStringLiteral("/orbilane-watch"),
                 {"--database", database, "--config", settings});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 75);
    QVERIFY(QString::fromUtf8(second.readAllStandardError()).contains("UDP port 2976 is in use"));

    // The encoder taken off the network: up 0 well within 20 s.
    QElapsedTimer taken;
    taken.start();
    QVERIFY(TestNetwork::tellSimulator(control, "down"));
    QTRY_COMPARE_WITH_TIMEOUT(Sample(scrape(), "orbilane_element_up", net.elementIp(1)), QStringLiteral("0"), 20000);
    qInfo("orbilane_element_up 0 after %lld ms", taken.elapsed());
    QTRY_COMPARE_WITH_TIMEOUT(notify.lastStatus(), QByteArray("2 elements: 1 up, 1 down"), 3000);

    // A reload: the encoder dropped, a new element (nobody at its address) added, the decoder
    // unchanged keeps its state and the moment it began.
    const QString decoderSince = Sample(scrape(), "orbilane_element_state_change_timestamp_seconds", net.elementIp(2));
    QVERIFY(store.remove(Key(net, 1)));
    QVERIFY(store.write(QStringLiteral("0A0000000099"), {{"name", "NEW RX"}, {"ip", "10.77.0.99"}, {"role", "2"}}));
    notify.clear();
    ::kill(watch.processId(), SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(events().contains("\"event\":\"watch-reloaded\""), 3000);
    QVERIFY(notify.received("RELOADING=1"));
    QVERIFY(notify.received("READY=1"));
    QVERIFY2(out.contains("\"added\":1") && out.contains("\"removed\":1") && out.contains("\"count\":2"),
             qPrintable(out));
    text = scrape();
    QVERIFY(Sample(text, "orbilane_element_up", net.elementIp(1)).isEmpty());
    QCOMPARE(Sample(text, "orbilane_element_up", net.elementIp(2)), QStringLiteral("1"));
    QCOMPARE(Sample(text, "orbilane_element_state_change_timestamp_seconds", net.elementIp(2)), decoderSince);
    QVERIFY(text.contains("ip=\"10.77.0.99\",role=\"decoder\",state=\"unknown\"} 1")
            || text.contains("ip=\"10.77.0.99\",role=\"decoder\",state=\"down\"} 1"));
    QTRY_COMPARE_WITH_TIMEOUT(Sample(scrape(), "orbilane_element_up", "10.77.0.99"), QStringLiteral("0"), 5000);

    // SIGTERM: ended within a second, cleanly, the service manager told, console-stopped last.
    QElapsedTimer stopping;
    stopping.start();
    watch.terminate();
    QVERIFY(watch.waitForFinished(1000));
    QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    QVERIFY(notify.received("STOPPING=1"));
    const QStringList lines = events().split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.first().contains("\"event\":\"console-started\""));
    QVERIFY2(lines.last().contains("\"event\":\"console-stopped\""), qPrintable(lines.last()));
    // The event log file holds the same lines.
    QFile log(dir.filePath(QStringLiteral("state/events.jsonl")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts), lines);
    net_ = nullptr;
}

NMS_E2E_MAIN(TestWatchE2e)
#include "tst_watch_e2e.moc"
