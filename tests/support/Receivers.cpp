#include "support/Receivers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QUdpSocket>

#include <signal.h>

namespace nms::test {

namespace {

constexpr int kStartMs = 10000;
// Debian's python3, which has aiosmtpd, whatever python3 comes first in PATH.
const char* const kPython = "/usr/bin/python3";

// Writes each mail to a file of its own (written aside, then renamed: never read half written).
const char* const kSmtpScript = R"PY(
import asyncio, json, os, ssl, sys
from aiosmtpd.smtp import SMTP

folder, host, port, tls = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1"

class Handler:
    def __init__(self):
        self.count = 0
    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.startswith("refuse"):
            return "550 5.1.1 no such mailbox"
        if address.startswith("later"):
            return "451 4.3.0 try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"
    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        head = {"from": envelope.mail_from, "to": envelope.rcpt_tos, "tls": session.ssl is not None}
        path = os.path.join(folder, "mail-%04d" % self.count)
        with open(path + ".tmp", "wb") as f:
            f.write(json.dumps(head).encode() + b"\n" + envelope.original_content)
        os.rename(path + ".tmp", path + ".eml")
        return "250 2.0.0 accepted"

context = None
if tls:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
handler = Handler()
loop = asyncio.new_event_loop()
server = loop.run_until_complete(loop.create_server(
    lambda: SMTP(handler, hostname="receiver.test", tls_context=context, require_starttls=tls),
    host=host, port=port))
print(server.sockets[0].getsockname()[1], flush=True)
loop.run_forever()
)PY";

// Each request as a JSON file; the answer's status is read from the file "answer" (0: none).
const char* const kHttpScript = R"PY(
import http.server, json, os, ssl, sys, time

folder, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
count = [0]

class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        try:
            status = int(open(os.path.join(folder, "answer")).read().strip())
        except (OSError, ValueError):
            status = 200
        count[0] += 1
        path = os.path.join(folder, "request-%04d" % count[0])
        record = {"method": self.command, "path": self.path, "headers": list(self.headers.items()),
                  "body": body.decode("latin-1"), "answered": status}
        with open(path + ".tmp", "w") as f:
            json.dump(record, f)
        os.rename(path + ".tmp", path + ".json")
        if status == 0:
            time.sleep(3600)
            return
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *args):
        pass

server = http.server.ThreadingHTTPServer((host, port), Handler)
server.daemon_threads = True
if len(sys.argv) > 4 and sys.argv[4] == "1":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
)PY";

QList<QByteArray> FilesIn(const QString& folder, const QString& pattern)
{
    QList<QByteArray> contents;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({pattern}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            contents.append(file.readAll());
    }
    return contents;
}

} // namespace

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

quint16 FreePort(const QHostAddress& address, bool udp)
{
    if (udp) {
        QUdpSocket socket;
        return socket.bind(address, 0) ? socket.localPort() : 0;
    }
    QTcpServer server;
    return server.listen(address, 0) ? server.serverPort() : 0;
}

Receiver::Receiver() = default;

Receiver::~Receiver()
{
    stop();
}

qint64 Receiver::pid() const
{
    return process_ ? process_->processId() : 0;
}

bool Receiver::running() const
{
    return process_ && process_->state() == QProcess::Running;
}

void Receiver::stop()
{
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        ::kill(pid_t(process_->processId()), SIGKILL);
        process_->waitForFinished(5000);
    }
    process_.reset();
}

bool Receiver::fail(const QString& error)
{
    error_ = error;
    stop();
    return false;
}

bool Receiver::startProcess(const QString& program, const QStringList& arguments, quint16 port)
{
    stop();
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->start(program, arguments);
    if (!process_->waitForStarted(kStartMs))
        return fail(QStringLiteral("%1 did not start: %2").arg(program, process_->errorString()));
    const QDeadlineTimer deadline(kStartMs);
    while (!process_->canReadLine()) {
        if (deadline.hasExpired() || !process_->waitForReadyRead(int(deadline.remainingTime())))
            return fail(QStringLiteral("%1 did not come up: %2")
                            .arg(program, QString::fromUtf8(process_->readAllStandardError())));
    }
    bool number = false;
    port_ = quint16(process_->readLine().trimmed().toUInt(&number));
    if (!number || port_ == 0 || (port != 0 && port_ != port))
        return fail(QStringLiteral("%1 said no port").arg(program));
    return true;
}

bool Receiver::makeCertificate()
{
    if (QFile::exists(dir_.filePath(QStringLiteral("cert.pem"))))
        return true;
    QProcess openssl;
    openssl.setWorkingDirectory(dir_.path());
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                   "key.pem", "-out", "cert.pem", "-days", "1", "-subj", "/CN=receiver.test"});
    if (!openssl.waitForFinished(kStartMs) || openssl.exitCode() != 0)
        return fail(
            QStringLiteral("openssl made no certificate: %1").arg(QString::fromUtf8(openssl.readAllStandardError())));
    return true;
}

bool SmtpReceiver::start(quint16 port, bool starttls, const QHostAddress& address)
{
    address_ = address;
    const QString script = dir_.filePath(QStringLiteral("receive_smtp.py"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(kSmtpScript) < 0)
        return fail(QStringLiteral("cannot write %1").arg(script));
    file.close();
    if (starttls && !makeCertificate())
        return false;
    return startProcess(QLatin1String(kPython),
                        {script, dir_.path(), address.toString(), QString::number(port), starttls ? "1" : "0"}, port);
}

QList<ReceivedMail> SmtpReceiver::messages() const
{
    QList<ReceivedMail> mails;
    for (const QByteArray& content : FilesIn(dir_.path(), QStringLiteral("mail-*.eml"))) {
        const qsizetype end = content.indexOf('\n');
        const QJsonObject head = QJsonDocument::fromJson(content.left(end)).object();
        ReceivedMail mail;
        mail.from = head.value("from").toString();
        for (const QJsonValue& to : head.value("to").toArray())
            mail.to.append(to.toString());
        mail.tls = head.value("tls").toBool();
        mail.data = content.mid(end + 1);
        mails.append(mail);
    }
    return mails;
}

QString ReceivedRequest::header(const QString& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return QString();
}

bool HttpReceiver::start(quint16 port, bool tls, const QHostAddress& address)
{
    address_ = address;
    if (tls && !makeCertificate())
        return false;
    const QString script = dir_.filePath(QStringLiteral("receive_http.py"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(kHttpScript) < 0)
        return fail(QStringLiteral("cannot write %1").arg(script));
    file.close();
    return startProcess(QLatin1String(kPython),
                        {script, dir_.path(), address.toString(), QString::number(port), tls ? "1" : "0"}, port);
}

void HttpReceiver::answerWith(int status)
{
    QFile file(dir_.filePath(QStringLiteral("answer")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::number(status));
}

QList<ReceivedRequest> HttpReceiver::requests() const
{
    QList<ReceivedRequest> requests;
    for (const QByteArray& content : FilesIn(dir_.path(), QStringLiteral("request-*.json"))) {
        const QJsonObject o = QJsonDocument::fromJson(content).object();
        ReceivedRequest r;
        r.method = o.value("method").toString();
        r.path = o.value("path").toString();
        for (const QJsonValue& pair : o.value("headers").toArray())
            r.headers.append({pair.toArray().at(0).toString(), pair.toArray().at(1).toString()});
        r.body = o.value("body").toString().toLatin1();
        r.answered = o.value("answered").toInt();
        requests.append(r);
    }
    return requests;
}

QString ReceivedTrap::value(const QString& oidPrefix) const
{
    for (const auto& [oid, value] : varbinds)
        if (oid.startsWith(oidPrefix))
            return value;
    return QString();
}

QString ReceivedTrap::text(const QString& oidPrefix) const
{
    const QString raw = value(oidPrefix);
    if (raw.startsWith(QLatin1String("STRING: \"")) && raw.endsWith(QLatin1Char('"')))
        return raw.mid(9).chopped(1);
    if (raw.startsWith(QLatin1String("Hex-STRING: ")))
        return QString::fromUtf8(QByteArray::fromHex(raw.mid(12).remove(QLatin1Char(' ')).toLatin1()));
    return raw.mid(raw.indexOf(QLatin1Char(':')) + 1).trimmed();
}

bool TrapReceiver::start(quint16 port, const QHostAddress& address)
{
    address_ = address;
    if (port == 0)
        port = FreePort(address, true);
    const QString conf = dir_.filePath(QStringLiteral("snmptrapd.conf"));
    QFile file(conf);
    // Every community is taken, and informs answered.
    if (!file.open(QIODevice::WriteOnly) || file.write("disableAuthorization yes\n") < 0)
        return fail(QStringLiteral("cannot write %1").arg(conf));
    file.close();
    const QString log = dir_.filePath(QStringLiteral("traps.log"));
    QFile::remove(log);
    stop();
    process_ = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Its persistent files in the test's folder, no MIB files: numeric OIDs only.
    environment.insert(QStringLiteral("SNMP_PERSISTENT_DIR"), dir_.path());
    environment.insert(QStringLiteral("MIBS"), QString());
    environment.insert(QStringLiteral("MIBDIRS"), dir_.path());
    process_->setProcessEnvironment(environment);
    const QString endpoint = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("udp6:[%1]:%2").arg(address.toString()).arg(port)
        : QStringLiteral("udp:%1:%2").arg(address.toString()).arg(port);
    process_->start(QStringLiteral("snmptrapd"),
                    {"-f", "-C", "-c", conf, "-Lf", log, "-On", "-n", "-F", "TRAP %B|%v\\n", endpoint});
    if (!process_->waitForStarted(kStartMs))
        return fail(QStringLiteral("snmptrapd did not start: %1").arg(process_->errorString()));
    port_ = port;
    if (!WaitFor([&] { return this->log().contains(QLatin1String("NET-SNMP version")) || !running(); }, kStartMs)
        || !running())
        return fail(QStringLiteral("snmptrapd did not come up: %1").arg(this->log()));
    return true;
}

QString TrapReceiver::log() const
{
    QFile file(dir_.filePath(QStringLiteral("traps.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QList<ReceivedTrap> TrapReceiver::traps() const
{
    // "TRAP <address>|<oid> = <value>\t<oid> = <value>..." where a value may run over lines.
    QList<ReceivedTrap> traps;
    const QString text = log();
    for (const QString& record : text.split(QLatin1String("TRAP "), Qt::SkipEmptyParts)) {
        const qsizetype bar = record.indexOf(QLatin1Char('|'));
        if (bar < 0 || !record.endsWith(QLatin1Char('\n')))
            continue; // the start-up lines, or a record still being written
        ReceivedTrap trap;
        trap.peer = record.left(bar);
        for (const QString& binding : record.mid(bar + 1).chopped(1).split(QLatin1Char('\t'), Qt::SkipEmptyParts)) {
            const qsizetype equals = binding.indexOf(QLatin1String(" = "));
            if (equals < 0)
                continue;
            QString oid = binding.left(equals).trimmed();
            if (oid.startsWith(QLatin1Char('.')))
                oid.remove(0, 1);
            QString value = binding.mid(equals + 3).trimmed();
            if (oid == QLatin1String("1.3.6.1.6.3.1.1.4.1.0")) {
                trap.trapOid = value.mid(value.indexOf(QLatin1Char(':')) + 1).trimmed();
                if (trap.trapOid.startsWith(QLatin1Char('.')))
                    trap.trapOid.remove(0, 1);
            }
            trap.varbinds.append({oid, value});
        }
        traps.append(trap);
    }
    return traps;
}

} // namespace nms::test
