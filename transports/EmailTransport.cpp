#include "transports/EmailTransport.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <curl/curl.h>

#include <mutex>

#include "base/Trace.h"
#include "transports/MailText.h"

namespace nms {

namespace {

constexpr int kRunningAtOnce = 2;

struct Upload {
    QByteArray data;
    qsizetype offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    const size_t n = std::min(size * count, size_t(upload->data.size() - upload->offset));
    memcpy(buffer, upload->data.constData() + upload->offset, n);
    upload->offset += qsizetype(n);
    return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic_bool*>(user)->load() ? 1 : 0;
}

// One mail, start to end, on a worker thread; the settings and mail are its own copies.
DeliveryResult Send(const SmtpSettings& s, const QByteArray& mail, std::atomic_bool* abandon)
{
    CURL* curl = curl_easy_init();
    if (!curl)
        return {DeliveryResult::Outcome::Retry, QStringLiteral("libcurl could not start")};
    char errors[CURL_ERROR_SIZE] = {};
    Upload upload {mail, 0};
    const QByteArray url = s.url.toEncoded();
    const QByteArray from = '<' + MailAddress(s.from).toUtf8() + '>';
    curl_slist* recipients = nullptr;
    for (const QString& to : s.to)
        recipients = curl_slist_append(recipients, ('<' + MailAddress(to).toUtf8() + '>').constData());
    const QByteArray user = s.user.toUtf8();
    const QByteArray password = s.password.toUtf8();

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(mail.size()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(s.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(s.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, abandon);
    if (s.url.scheme() == QLatin1String("smtp"))
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(s.startTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    if (!s.user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    if (s.insecure) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    const CURLcode code = curl_easy_perform(curl);
    long reply = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);

    DeliveryResult result;
    const QString detail = QString::fromUtf8(errors[0] ? errors : curl_easy_strerror(code)).trimmed();
    // The server's last reply code, when it is what refused.
    const QString said = reply >= 400 ? QStringLiteral("SMTP %1: %2").arg(reply).arg(detail) : detail;
    if (code == CURLE_OK)
        result = {DeliveryResult::Outcome::Delivered, QStringLiteral("SMTP %1").arg(reply)};
    else if (reply >= 500 || code == CURLE_LOGIN_DENIED || code == CURLE_USE_SSL_FAILED)
        result = {DeliveryResult::Outcome::Failed, said}; // an address, the login, no STARTTLS: for good
    else
        result = {DeliveryResult::Outcome::Retry, said};
    return result;
}

} // namespace

std::unique_ptr<EmailTransport> EmailTransport::Create(NotifierGroup& group)
{
    SmtpSettings s;
    const QString url = group.text(QStringLiteral("url"), true);
    s.from = group.text(QStringLiteral("from"), true);
    s.to = group.list(QStringLiteral("to"), true);
    const QString tls = group.choice(QStringLiteral("tls"), {QStringLiteral("starttls"), QStringLiteral("none")});
    s.user = group.text(QStringLiteral("user"), false);
    s.insecure = group.flag(QStringLiteral("insecure"), false);
    s.timeoutMs = group.millis(QStringLiteral("timeout_s"), 30);
    const QString passwordFile = group.text(QStringLiteral("password_file"), false);
    s.password = group.has(QStringLiteral("password")) ? group.text(QStringLiteral("password"), false) : QString();
    if (!group.ok())
        return nullptr;

    s.url = QUrl(url, QUrl::StrictMode);
    const QString scheme = s.url.scheme();
    if (!s.url.isValid() || s.url.host().isEmpty()
        || (scheme != QLatin1String("smtp") && scheme != QLatin1String("smtps")) || !s.url.userInfo().isEmpty())
        group.refuse(QStringLiteral("url"),
                     QStringLiteral("not an smtp://host:port or smtps://host:port address "
                                    "(the login goes in user and password)"));
    else if (scheme == QLatin1String("smtps") && tls == QLatin1String("none"))
        group.refuse(QStringLiteral("tls"), QStringLiteral("none contradicts smtps://"));
    if (MailAddress(s.from).isEmpty())
        group.refuse(QStringLiteral("from"), QStringLiteral("'%1' is not a mail address").arg(s.from));
    for (const QString& to : std::as_const(s.to))
        if (MailAddress(to).isEmpty())
            group.refuse(QStringLiteral("to"), QStringLiteral("'%1' is not a mail address").arg(to));
    if (!passwordFile.isEmpty() && group.has(QStringLiteral("password")))
        group.refuse(QStringLiteral("password_file"), QStringLiteral("give password or password_file, not both"));
    if (!passwordFile.isEmpty() && group.ok()) {
        // Read once, now: its first line, without the line end.
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            group.refuse(QStringLiteral("password_file"),
                         QStringLiteral("%1 cannot be read: %2").arg(passwordFile, file.errorString()));
        else
            s.password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    }
    if ((!s.password.isEmpty() || !passwordFile.isEmpty()) && s.user.isEmpty())
        group.refuse(QStringLiteral("user"), QStringLiteral("missing beside a password"));
    s.startTls = tls != QLatin1String("none");
    if (!s.user.isEmpty() && scheme == QLatin1String("smtp") && !s.startTls)
        group.refuse(QStringLiteral("tls"), QStringLiteral("none would send the password in clear"));
    if (!group.ok())
        return nullptr;
    if (s.url.port() < 0)
        s.url.setPort(scheme == QLatin1String("smtps") ? 465 : 587);

    // Once per process, before any thread uses libcurl.
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return std::unique_ptr<EmailTransport>(new EmailTransport(s));
}

EmailTransport::EmailTransport(const SmtpSettings& settings)
    : settings_(settings), abandon_(std::make_shared<std::atomic_bool>(false))
{
}

EmailTransport::~EmailTransport()
{
    abandon_->store(true);
    for (QThread* thread : std::as_const(running_)) {
        thread->disconnect(this);
        thread->wait();
        delete thread;
    }
}

void EmailTransport::deliver(const NotifyMessage& message)
{
    waiting_.append(message);
    QTimer::singleShot(0, this, &EmailTransport::startWaiting);
}

void EmailTransport::startWaiting()
{
    while (running_.size() < kRunningAtOnce && !waiting_.isEmpty()) {
        const NotifyMessage message = waiting_.takeFirst();
        auto result = std::make_shared<DeliveryResult>();
        const QByteArray mail = MailText(message, settings_.from, settings_.to);
        QThread* thread = QThread::create([settings = settings_, mail, abandon = abandon_, result] {
            *result = Send(settings, mail, abandon.get());
        });
        thread->setParent(this); // gone with the transport at the latest, ended or not yet deleted
        running_.append(thread);
        const QString id = message.id;
        connect(thread, &QThread::finished, this, [this, thread, id, result] {
            running_.removeOne(thread);
            thread->deleteLater();
            qCDebug(traceNotify).noquote() << "email" << settings_.url.host() << "for" << id << ":" << result->reason;
            Q_EMIT finished(id, *result);
            startWaiting();
        });
        thread->start();
    }
}

} // namespace nms
