#pragma once
// Real receivers of alarms for the tests, each a process of its own listening on an address of
// the test's own network (127.0.0.1 unless told; in a namespace, the address the thread sees):
//
//     SmtpReceiver smtp;                 // aiosmtpd (Debian python3-aiosmtpd), one file per mail
//     QVERIFY2(smtp.start(), qPrintable(smtp.errorString()));
//     ... an email notifier with url=smtp://127.0.0.1:<smtp.port()>, tls=none ...
//     QVERIFY(WaitFor([&] { return smtp.messages().size() == 1; }));
//
//     HttpReceiver http;                 // python3's http.server: one JSON file per request
//     TrapReceiver traps;                // snmptrapd, numeric OIDs, one line per notification
//
// start() returns once the receiver takes connections (or, for snmptrapd, has said it listens);
// port 0 lets it pick a free port, and a receiver stopped and started again on its port() gets
// the same one back. Each has its own temporary folder; stop() and the destructor end the
// process by its PID.

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QProcess;

namespace nms::test {

// Runs the event loop until `done` holds or `timeoutMs` has passed; whether it holds.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

class Receiver {
public:
    Receiver();
    virtual ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    quint16 port() const { return port_; }
    QString host() const { return address_.toString(); }
    qint64 pid() const;
    bool running() const;
    QString errorString() const { return error_; }
    QString folder() const { return dir_.path(); }
    void stop();

protected:
    // Starts `program` and waits for its first line on standard output: the port it listens on.
    bool startProcess(const QString& program, const QStringList& arguments, quint16 port);
    // A self-signed certificate for receiver.test in the folder (cert.pem, key.pem), made once.
    bool makeCertificate();
    bool fail(const QString& error);

    QTemporaryDir dir_;
    QHostAddress address_ = QHostAddress(QHostAddress::LocalHost);
    quint16 port_ = 0;
    QString error_;
    std::unique_ptr<QProcess> process_;
};

// One mail as the server took it.
struct ReceivedMail {
    QString from; // MAIL FROM
    QStringList to; // RCPT TO
    bool tls = false; // after STARTTLS
    QByteArray data; // the message: headers and body, CRLF
};

class SmtpReceiver : public Receiver {
public:
    // starttls: offers STARTTLS with a self-signed certificate made now, and requires it.
    // A recipient whose address begins "refuse" is refused with 550, "later" with 451.
    bool start(quint16 port = 0, bool starttls = false, const QHostAddress& address = QHostAddress::LocalHost);
    QList<ReceivedMail> messages() const;
};

// One request as the server took it.
struct ReceivedRequest {
    QString method;
    QString path;
    QList<std::pair<QString, QString>> headers;
    QByteArray body;
    int answered = 0; // the status it was answered with

    QString header(const QString& name) const;
};

class HttpReceiver : public Receiver {
public:
    // tls: HTTPS with a self-signed certificate made now.
    bool start(quint16 port = 0, bool tls = false, const QHostAddress& address = QHostAddress::LocalHost);
    // How the next requests are answered: a status (200, 404, 503, ...), or 0 for never (the
    // connection is held open without an answer).
    void answerWith(int status);
    QList<ReceivedRequest> requests() const;
};

// One notification snmptrapd logged.
struct ReceivedTrap {
    QString peer; // the sender's address as snmptrapd wrote it
    QString trapOid; // snmpTrapOID.0, numeric without the leading dot
    QList<std::pair<QString, QString>> varbinds; // numeric OID, value as written ("STRING: x", ...)
    QString value(const QString& oidPrefix) const; // the first variable under the OID given
    // Its value without the type: a string's text (UTF-8 from snmptrapd's hex too), a number.
    QString text(const QString& oidPrefix) const;
};

class TrapReceiver : public Receiver {
public:
    // Takes traps and informs (answered) of any community.
    bool start(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    QList<ReceivedTrap> traps() const;
    QString log() const;
};

// A free port on `address` (bound to 0 and let go): for a receiver that is started later.
quint16 FreePort(const QHostAddress& address = QHostAddress::LocalHost, bool udp = false);

} // namespace nms::test
