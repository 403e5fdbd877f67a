// Each transport against a real receiver on loopback: aiosmtpd (plain and STARTTLS), python's
// http.server, snmptrapd, and scripts of our own; what they received, and each outcome. Receivers
// that hang or are not there cost only their own delivery: the event loop keeps ticking.
#include "transports/Transport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <signal.h>

#include "support/Receivers.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

using Outcome = DeliveryResult::Outcome;
Q_DECLARE_METATYPE(DeliveryResult::Outcome)

namespace {

const QString kEnterprise = QStringLiteral("1.3.6.1.4.1.8072.9999.9999");

NotifyMessage Down(const QString& id)
{
    NotifyMessage m;
    m.id = id;
    m.notifier = "oncall";
    m.status = "firing";
    m.event = "element-down";
    m.time = QDateTime(QDate(2026, 12, 8), QTime(3, 4, 5), Qt::UTC);
    m.elements = {{QString::fromUtf8("ZÜRICH RX"), "00:11:22:33:44:55", "10.0.0.6", "decoder"}};
    m.title = QString::fromUtf8("DOWN: ZÜRICH RX 10.0.0.6");
    // A line of a lone dot would end the mail early if SMTP's dot-stuffing were missing.
    m.text = QString::fromUtf8("ZÜRICH RX (10.0.0.6) is down.\n.\nSince 03:04:05 UTC.");
    return m;
}

// Makes the transport of a group, delivers one message and waits for its one outcome.
struct Delivery {
    std::unique_ptr<Transport> transport;
    QString error;
    QList<std::pair<QString, DeliveryResult>> results;
    QElapsedTimer clock;
    qint64 endedMs = -1; // since the transport was made

    explicit Delivery(const QVariantMap& group)
    {
        clock.start();
        transport = MakeTransport("t", group, &error);
        if (transport)
            QObject::connect(transport.get(), &Transport::finished, [this](const QString& id, const DeliveryResult& r) {
                results.append({id, r});
                endedMs = clock.elapsed();
            });
    }
    bool run(const NotifyMessage& message, int timeoutMs = 5000)
    {
        if (!transport)
            return false;
        transport->deliver(message);
        if (!results.isEmpty())
            return false; // finished() from within deliver()
        return WaitFor([&] { return !results.isEmpty(); }, timeoutMs);
    }
    Outcome outcome() const { return results.value(0).second.outcome; }
    QString reason() const { return results.value(0).second.reason; }
};

QByteArray Header(const QByteArray& mail, const QByteArray& name)
{
    // Unfolded: a continuation line joins the one before.
    const QByteArray head = mail.left(mail.indexOf("\r\n\r\n")).replace("\r\n ", " ");
    for (const QByteArray& line : head.split('\n'))
        if (line.startsWith(name + ": "))
            return line.mid(name.size() + 2).trimmed();
    return QByteArray();
}

QString DecodedWords(const QByteArray& header)
{
    QString text;
    for (const QByteArray& word : header.split(' ')) {
        if (word.startsWith("=?UTF-8?B?") && word.endsWith("?="))
            text += QString::fromUtf8(QByteArray::fromBase64(word.mid(10, word.size() - 12)));
        else
            text += (text.isEmpty() ? "" : " ") + QString::fromLatin1(word);
    }
    return text;
}

QByteArray QuotedPrintableDecoded(QByteArray text)
{
    text.replace("=\r\n", "");
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == '=' && i + 2 < text.size()) {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

bool ProcessGone(qint64 pid)
{
    // Gone, or a zombie left to init: either way no longer running.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

} // namespace

class TestTransportsE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void email_data();
    void email();
    void webhook_data();
    void webhook();
    void exec();
    void execFailures_data();
    void execFailures();
    void snmp_data();
    void snmp();
    void stuckReceiversNeverHoldTheLoop();

private:
    QVariantMap smtpGroup(const SmtpReceiver& server) const;
    TempDir dir_;
    SmtpReceiver smtp_;
    SmtpReceiver smtpTls_;
    HttpReceiver http_;
    HttpReceiver https_;
    TrapReceiver traps_;
    quint16 silentPort_ = 0; // nothing listens there
};

void TestTransportsE2e::initTestCase()
{
    for (const char* program : {"/usr/bin/python3", "/usr/sbin/snmptrapd", "/usr/bin/openssl"})
        if (!QFile::exists(program))
            QSKIP(qPrintable(QStringLiteral("%1 is missing (scripts/install-deps.sh installs it)").arg(program)));
    QVERIFY2(smtp_.start(), qPrintable(smtp_.errorString()));
    QVERIFY2(smtpTls_.start(0, true), qPrintable(smtpTls_.errorString()));
    QVERIFY2(http_.start(), qPrintable(http_.errorString()));
    QVERIFY2(https_.start(0, true), qPrintable(https_.errorString()));
    QVERIFY2(traps_.start(), qPrintable(traps_.errorString()));
    silentPort_ = FreePort();
}

QVariantMap TestTransportsE2e::smtpGroup(const SmtpReceiver& server) const
{
    return {{"type", "email"},
            {"url", QStringLiteral("smtp://127.0.0.1:%1").arg(server.port())},
            {"from", "Orbilane <nms@studio.example>"},
            {"to", QStringList {"oncall@studio.example", "Ops Desk <desk@studio.example>"}},
            {"timeout_s", "3"}};
}

void TestTransportsE2e::email_data()
{
    QTest::addColumn<bool>("tlsServer");
    QTest::addColumn<QVariantMap>("keys");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("reason");
    QTest::newRow("plain, tls=none") << false << QVariantMap {{"tls", "none"}} << Outcome::Delivered << "SMTP 250";
    QTest::newRow("STARTTLS, self-signed, insecure")
        << true << QVariantMap {{"insecure", "true"}} << Outcome::Delivered << "SMTP 250";
    QTest::newRow("STARTTLS, self-signed, verified") << true << QVariantMap() << Outcome::Retry << "certificate";
    QTest::newRow("STARTTLS required, not offered") << false << QVariantMap() << Outcome::Failed << "STARTTLS";
    QTest::newRow("a recipient refused for good")
        << false << QVariantMap {{"tls", "none"}, {"to", "refuse@x.example"}} << Outcome::Failed << "550";
    QTest::newRow("a recipient for later")
        << false << QVariantMap {{"tls", "none"}, {"to", "later@x.example"}} << Outcome::Retry << "451";
    QTest::newRow("nobody listening") << false << QVariantMap {{"tls", "none"}, {"url", "silent"}} << Outcome::Retry
                                      << "onnect";
}

void TestTransportsE2e::email()
{
    QFETCH(bool, tlsServer);
    QFETCH(QVariantMap, keys);
    QFETCH(Outcome, outcome);
    QFETCH(QString, reason);
    SmtpReceiver& server = tlsServer ? smtpTls_ : smtp_;
    QVariantMap group = smtpGroup(server);
    group.insert(keys);
    if (group.value("url") == "silent")
        group.insert("url", QStringLiteral("smtp://127.0.0.1:%1").arg(silentPort_));
    const qsizetype before = server.messages().size();
    const QString id = QStringLiteral("mail-%1").arg(QString::fromLatin1(QTest::currentDataTag()).size());

    Delivery d(group);
    QVERIFY2(d.transport, qPrintable(d.error));
    QVERIFY(d.run(Down(id)));
    QCOMPARE(d.results.size(), 1);
    QCOMPARE(d.results.first().first, id);
    QVERIFY2(d.outcome() == outcome, qPrintable(d.reason()));
    QVERIFY2(d.reason().contains(reason), qPrintable(d.reason()));
    const QList<ReceivedMail> mails = server.messages();
    if (outcome != Outcome::Delivered) {
        QCOMPARE(mails.size(), before);
        return;
    }
    QCOMPARE(mails.size(), before + 1);
    const ReceivedMail mail = mails.last();
    QCOMPARE(mail.tls, tlsServer);
    QCOMPARE(mail.from, "nms@studio.example");
    QCOMPARE(mail.to, QStringList({"oncall@studio.example", "desk@studio.example"}));
    QCOMPARE(DecodedWords(Header(mail.data, "Subject")), QString::fromUtf8("[Orbilane] DOWN: ZÜRICH RX 10.0.0.6"));
    QCOMPARE(Header(mail.data, "Message-ID"), QByteArray("<" + id.toLatin1() + "@studio.example>"));
    const QByteArray body = mail.data.mid(mail.data.indexOf("\r\n\r\n") + 4);
    QCOMPARE(QString::fromUtf8(QuotedPrintableDecoded(body)).replace("\r\n", "\n").trimmed(), Down(id).text);
}

void TestTransportsE2e::webhook_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("tls"); // none, insecure (not verified), verified
    QTest::addColumn<int>("answer"); // -1: nobody listens
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("reason");
    QTest::newRow("json, 200") << "json"
                               << "none" << 200 << Outcome::Delivered << "HTTP 200 OK";
    QTest::newRow("text, 204") << "text"
                               << "none" << 204 << Outcome::Delivered << "HTTP 204";
    QTest::newRow("ntfy, 200") << "ntfy"
                               << "none" << 200 << Outcome::Delivered << "HTTP 200";
    QTest::newRow("a redirect is refused") << "json"
                                           << "none" << 301 << Outcome::Failed << "HTTP 301";
    QTest::newRow("404 for good") << "json"
                                  << "none" << 404 << Outcome::Failed << "HTTP 404";
    QTest::newRow("429 later") << "json"
                               << "none" << 429 << Outcome::Retry << "HTTP 429";
    QTest::newRow("503 later") << "json"
                               << "none" << 503 << Outcome::Retry << "HTTP 503";
    QTest::newRow("nobody listening") << "json"
                                      << "none" << -1 << Outcome::Retry << "ConnectionRefused";
    QTest::newRow("https, self-signed, insecure") << "json"
                                                  << "insecure" << 200 << Outcome::Delivered << "HTTP 200";
    QTest::newRow("https, self-signed, verified") << "json"
                                                  << "verified" << 200 << Outcome::Retry << "SslHandshakeFailed";
}

void TestTransportsE2e::webhook()
{
    QFETCH(QString, format);
    QFETCH(QString, tls);
    QFETCH(int, answer);
    QFETCH(Outcome, outcome);
    QFETCH(QString, reason);
    HttpReceiver& server = tls == "none" ? http_ : https_;
    server.answerWith(answer);
    const quint16 port = answer < 0 ? silentPort_ : server.port();
    const qsizetype before = server.requests().size();
    Delivery d({{"type", "webhook"},
                {"url", QStringLiteral("%1://127.0.0.1:%2/hook?x=1").arg(tls == "none" ? "http" : "https").arg(port)},
                {"format", format},
                {"insecure", tls == "insecure" ? "true" : "false"},
                {"header", QStringList {"Authorization: Bearer s3cret", "X-Site: studio"}}});
    QVERIFY2(d.transport, qPrintable(d.error));
    const NotifyMessage message = Down("hook-1");
    QVERIFY(d.run(message));
    QVERIFY2(d.outcome() == outcome, qPrintable(d.reason()));
    QVERIFY2(d.reason().contains(reason), qPrintable(d.reason()));
    QVERIFY(!d.reason().contains("s3cret"));
    const QList<ReceivedRequest> requests = server.requests();
    const bool taken = answer > 0 && tls != "verified";
    QCOMPARE(requests.size(), before + (taken ? 1 : 0));
    if (!taken)
        return;
    const ReceivedRequest r = requests.last();
    QCOMPARE(r.method, "POST");
    QCOMPARE(r.path, "/hook?x=1");
    QCOMPARE(r.header("Authorization"), "Bearer s3cret");
    QCOMPARE(r.header("X-Site"), "studio");
    if (format == "json") {
        QCOMPARE(r.header("Content-Type"), "application/json");
        QVERIFY(NotifyMessage::FromJson(QJsonDocument::fromJson(r.body).object()) == message);
    } else if (format == "text") {
        QCOMPARE(QJsonDocument::fromJson(r.body).object().value("text").toString(),
                 message.title + "\n" + message.text);
    } else {
        QCOMPARE(QString::fromUtf8(r.body), message.text);
        QCOMPARE(DecodedWords(r.header("Title").toLatin1()), message.title);
        QCOMPARE(r.header("Priority"), "urgent");
    }
}

void TestTransportsE2e::exec()
{
    // What the command was given: its standard input and environment, one file each.
    const QString script = dir_.file("record.sh");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "#!/bin/sh\ncat > \"$1/stdin\"\n"
        "printf '%s|' \"$ORBILANE_EVENT\" \"$ORBILANE_STATUS\" \"$ORBILANE_NAME\" \"$ORBILANE_MAC\" \"$ORBILANE_IP\" "
        "\"$ORBILANE_ROLE\" \"$ORBILANE_TEXT\" > \"$1/env\"\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    NotifyMessage message = Down("exec-1");
    message.elements.append({"TX", "00:00:00:00:00:01", "10.0.0.5", "encoder"});
    message.text = "two lines\nsecond";

    Delivery d({{"type", "exec"}, {"command", QStringLiteral("\"%1\" \"%2\"").arg(script, dir_.path())}});
    QVERIFY2(d.transport, qPrintable(d.error));
    QVERIFY(d.run(message));
    QVERIFY2(d.outcome() == Outcome::Delivered, qPrintable(d.reason()));
    QFile in(dir_.file("stdin"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray line = in.readAll();
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1);
    QVERIFY(NotifyMessage::FromJson(QJsonDocument::fromJson(line).object()) == message);
    QFile env(dir_.file("env"));
    QVERIFY(env.open(QIODevice::ReadOnly));
    // The first element; the text's line break kept.
    QCOMPARE(QString::fromUtf8(env.readAll()),
             QString::fromUtf8("element-down|firing|ZÜRICH RX|00:11:22:33:44:55|10.0.0.6|decoder|two lines\nsecond|"));
}

void TestTransportsE2e::execFailures_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");
    QTest::newRow("exit 3 with a word on stderr")
        << QByteArray("echo 'relay  busy' >&2; exit 3") << "exit status 3: relay busy";
    QTest::newRow("killed by a signal") << QByteArray("kill -TERM $$") << "ended by a signal";
    // The sleep is the script's child: it goes too, with the process group.
    QTest::newRow("still running after timeout_s")
        << QByteArray("sleep 30 & echo $! > \"$1/child\"; wait") << "killed after 0.3 s";
}

void TestTransportsE2e::execFailures()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    TempDir dir;
    const QString script = dir.file("fail.sh");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    Delivery d({{"type", "exec"}, {"command", QStringList {script + " " + dir.path()}}, {"timeout_s", "0.3"}});
    QVERIFY(!d.transport); // "a, b" in the file is a list: one command is wanted
    Delivery e({{"type", "exec"}, {"command", script + " " + dir.path()}, {"timeout_s", "0.3"}});
    QVERIFY2(e.transport, qPrintable(e.error));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(e.run(Down("exec-2")));
    QVERIFY2(e.outcome() == Outcome::Retry, qPrintable(e.reason()));
    QCOMPARE(e.reason(), reason);
    QVERIFY(clock.elapsed() < 2000);
    QFile child(dir.file("child"));
    if (child.open(QIODevice::ReadOnly)) {
        const qint64 pid = child.readAll().trimmed().toLongLong();
        QVERIFY(pid > 0);
        QVERIFY(WaitFor([&] { return ProcessGone(pid); }, 2000));
    }
}

void TestTransportsE2e::snmp_data()
{
    QTest::addColumn<bool>("inform");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("notification");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("severity");
    QTest::newRow("trap: down, critical") << false << "firing"
                                          << "element-down" << 1 << 2 << 3;
    QTest::newRow("inform: up, cleared") << true << "resolved"
                                         << "element-up" << 2 << 1 << 1;
    QTest::newRow("inform: silence, critical") << true << "firing"
                                               << "silence" << 3 << 3 << 3;
    QTest::newRow("trap: a recovery named by its alarm clears") << false << "resolved"
                                                                << "silence" << 4 << 1 << 1;
}

void TestTransportsE2e::snmp()
{
    QFETCH(bool, inform);
    QFETCH(QString, status);
    QFETCH(QString, event);
    QFETCH(int, notification);
    QFETCH(int, state);
    QFETCH(int, severity);
    NotifyMessage message = Down("snmp-1");
    message.status = status;
    message.event = event;
    message.elements.append({"TX", "02:00:00:00:01:0a", "10.0.0.5", "encoder"});
    const qsizetype before = traps_.traps().size();
    Delivery d({{"type", "snmp-trap"},
                {"host", QStringLiteral("127.0.0.1:%1").arg(traps_.port())},
                {"community", "studio"},
                {"inform", inform ? "true" : "false"},
                {"timeout_s", "2"}});
    QVERIFY2(d.transport, qPrintable(d.error));
    QVERIFY(d.run(message));
    QVERIFY2(d.outcome() == Outcome::Delivered, qPrintable(d.reason()));
    // A trap is not acknowledged: it is delivered once sent, and arrives a moment later.
    QVERIFY2(WaitFor([&] { return traps_.traps().size() == before + 2; }, 3000), qPrintable(traps_.log()));
    const QList<ReceivedTrap> traps = traps_.traps().mid(before);
    const QString objects = kEnterprise + ".1.1.";
    for (int i = 0; i < 2; ++i) {
        const ReceivedTrap& t = traps.at(i);
        QVERIFY(t.peer.contains("127.0.0.1"));
        QCOMPARE(t.trapOid, kEnterprise + ".1.0." + QString::number(notification));
        QCOMPARE(t.text(objects + "1.0"), message.elements.at(i).name);
        QCOMPARE(t.text(objects + "3.0"), message.elements.at(i).ip);
        QCOMPARE(t.text(objects + "4.0"), i == 0 ? "3" : "2");
        QCOMPARE(t.text(objects + "5.0"), QString::number(state));
        QCOMPARE(t.text(objects + "6.0"), QString::number(severity));
        QCOMPARE(t.text(objects + "7.0"), message.text);
    }
    QCOMPARE(traps.at(0).value(objects + "2.0"), "Hex-STRING: 00 11 22 33 44 55");
    QCOMPARE(traps.at(1).value(objects + "2.0"), "Hex-STRING: 02 00 00 00 01 0A");
}

void TestTransportsE2e::stuckReceiversNeverHoldTheLoop()
{
    // A mail server and a web server that take the connection and never answer, a command that
    // never ends, an INFORM nobody acknowledges: each is ended by its own time limit (0.4 s), as a
    // retry, while a 50 ms timer goes on ticking: a delivery that held the loop would stop it for
    // that long.
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost));
    QUdpSocket deaf; // takes the INFORMs and never reads them
    QVERIFY(deaf.bind(QHostAddress::LocalHost, 0));
    http_.answerWith(0);
    const QString sleeper = dir_.file("sleeper.sh");
    QFile file(sleeper);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nexec sleep 30\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    QList<Delivery*> deliveries {
        new Delivery({{"type", "email"},
                      {"url", QStringLiteral("smtp://127.0.0.1:%1").arg(mute.serverPort())},
                      {"tls", "none"},
                      {"from", "nms@studio.example"},
                      {"to", "oncall@studio.example"},
                      {"timeout_s", "0.4"}}),
        new Delivery({{"type", "webhook"},
                      {"url", QStringLiteral("http://127.0.0.1:%1/").arg(http_.port())},
                      {"timeout_s", "0.4"}}),
        new Delivery({{"type", "exec"}, {"command", sleeper}, {"timeout_s", "0.4"}}),
        new Delivery({{"type", "snmp-trap"},
                      {"host", QStringLiteral("127.0.0.1:%1").arg(deaf.localPort())},
                      {"inform", "true"},
                      {"timeout_s", "0.4"}}),
    };
    // Another SNMP notifier meanwhile: the INFORM's wait does not hold it up.
    Delivery trap({{"type", "snmp-trap"}, {"host", QStringLiteral("127.0.0.1:%1").arg(traps_.port())}});
    QElapsedTimer clock;
    QTimer ticker;
    qint64 last = 0;
    qint64 longestGap = 0;
    connect(&ticker, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    ticker.start(50);
    for (Delivery* d : deliveries) {
        QVERIFY2(d->transport, qPrintable(d->error));
        d->transport->deliver(Down("stuck"));
    }
    trap.transport->deliver(Down("beside"));
    const bool ended = WaitFor([&] {
        return std::all_of(deliveries.begin(), deliveries.end(), [](Delivery* d) { return !d->results.isEmpty(); });
    });
    const qint64 took = clock.elapsed();
    QVERIFY(trap.results.size() == 1 && trap.outcome() == Outcome::Delivered);
    QVERIFY2(trap.endedMs < deliveries.last()->endedMs - 200,
             qPrintable(QStringLiteral("%1 ms, the INFORM %2").arg(trap.endedMs).arg(deliveries.last()->endedMs)));
    for (Delivery* d : deliveries) {
        QVERIFY2(d->outcome() == Outcome::Retry, qPrintable(d->transport->type() + ": " + d->reason()));
        QCOMPARE(d->results.size(), 1);
    }
    qDeleteAll(deliveries);
    http_.answerWith(200);
    QVERIFY(ended);
    QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    QVERIFY2(longestGap < 300, qPrintable(QString::number(longestGap)));
}

QTEST_GUILESS_MAIN(TestTransportsE2e)
#include "tst_transports_e2e.moc"
