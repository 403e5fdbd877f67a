#include "transports/WebhookTransport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTimer>

#include "base/Trace.h"
#include "transports/MailText.h"

namespace nms {

namespace {

// ntfy's priorities: an element lost or silent wakes someone; the rest does not.
QByteArray NtfyPriority(const NotifyMessage& m)
{
    if (m.status != QLatin1String("firing"))
        return "default";
    static const QStringList kUrgent {QStringLiteral("element-down"), QStringLiteral("silence"),
                                      QStringLiteral("element-missing")};
    return kUrgent.contains(m.event) && !m.reminder ? "urgent" : "high";
}

QByteArray NtfyTags(const NotifyMessage& m)
{
    const QByteArray mark = m.status == QLatin1String("resolved") ? "white_check_mark"
        : m.status == QLatin1String("test")                       ? "test_tube"
                                                                  : "rotating_light";
    return mark + ',' + m.event.toLatin1();
}

} // namespace

std::unique_ptr<WebhookTransport> WebhookTransport::Create(NotifierGroup& group)
{
    const QString text = group.text(QStringLiteral("url"), true);
    const QString format = group.choice(QStringLiteral("format"),
                                        {QStringLiteral("json"), QStringLiteral("text"), QStringLiteral("ntfy")});
    const bool insecure = group.flag(QStringLiteral("insecure"), false);
    const int timeoutMs = group.millis(QStringLiteral("timeout_s"), 30);
    QList<std::pair<QByteArray, QByteArray>> headers;
    for (const QString& line : group.list(QStringLiteral("header"), false)) {
        const int colon = line.indexOf(QLatin1Char(':'));
        const QString name = line.left(colon).trimmed();
        static const QRegularExpression kToken(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
        // The value is never repeated in the reason: it is often a secret.
        if (colon <= 0 || !kToken.match(name).hasMatch() || line.contains(QLatin1Char('\n'))
            || line.contains(QLatin1Char('\r')))
            group.refuse(QStringLiteral("header"), QStringLiteral("a line is not \"Name: value\""));
        else
            headers.append({name.toLatin1(), line.mid(colon + 1).trimmed().toUtf8()});
    }
    if (!group.ok())
        return nullptr;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        || url.host().isEmpty()) {
        group.refuse(QStringLiteral("url"), QStringLiteral("not an http:// or https:// address"));
        return nullptr;
    }
    return std::unique_ptr<WebhookTransport>(new WebhookTransport(url, headers, format, insecure, timeoutMs));
}

WebhookTransport::WebhookTransport(const QUrl& url, const QList<std::pair<QByteArray, QByteArray>>& headers,
                                   const QString& format, bool insecure, int timeoutMs)
    : url_(url),
      headers_(headers),
      format_(format),
      insecure_(insecure),
      timeoutMs_(timeoutMs),
      network_(new QNetworkAccessManager(this))
{
    // A redirect would carry the headers (an Authorization) somewhere else: it is refused instead.
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

WebhookTransport::~WebhookTransport()
{
    // Replies still open end here without a signal: nobody is left to hear them.
    for (QNetworkReply* reply : network_->findChildren<QNetworkReply*>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

WebhookPayload WebhookTransport::Payload(const QString& format, const NotifyMessage& m)
{
    WebhookPayload p;
    if (format == QLatin1String("text")) {
        p.contentType = "application/json";
        const QString text = m.text.isEmpty() ? m.title : m.title + QLatin1Char('\n') + m.text;
        p.body = QJsonDocument(QJsonObject {{QStringLiteral("text"), text}}).toJson(QJsonDocument::Compact);
    } else if (format == QLatin1String("ntfy")) {
        p.contentType = "text/plain; charset=utf-8";
        p.headers = {{"Title", EncodedHeaderText(m.title)}, {"Priority", NtfyPriority(m)}, {"Tags", NtfyTags(m)}};
        p.body = (m.text.isEmpty() ? m.title : m.text).toUtf8();
    } else {
        p.contentType = "application/json";
        p.body = QJsonDocument(m.toJson()).toJson(QJsonDocument::Compact);
    }
    return p;
}

void WebhookTransport::deliver(const NotifyMessage& message)
{
    const WebhookPayload payload = Payload(format_, message);
    QNetworkRequest request(url_);
    request.setHeader(QNetworkRequest::ContentTypeHeader, payload.contentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("orbilane-nms"));
    for (const auto& [name, value] : payload.headers)
        request.setRawHeader(name, value);
    for (const auto& [name, value] : headers_)
        request.setRawHeader(name, value);
    request.setTransferTimeout(timeoutMs_);
    if (insecure_ && url_.scheme() == QLatin1String("https")) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(ssl);
    }
    // post() never answers synchronously: finished comes from the event loop.
    QNetworkReply* reply = network_->post(request, payload.body);
    const QString id = message.id;
    connect(reply, &QNetworkReply::finished, this, [this, reply, id] { answered(reply, id); });
}

void WebhookTransport::answered(QNetworkReply* reply, const QString& messageId)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    DeliveryResult result;
    if (status != 0) {
        result.reason = QStringLiteral("HTTP %1 %2").arg(status).arg(phrase).trimmed();
        if (status >= 200 && status < 300)
            result.outcome = DeliveryResult::Outcome::Delivered;
        else if (status == 429 || status >= 500)
            result.outcome = DeliveryResult::Outcome::Retry;
        else
            result.outcome = DeliveryResult::Outcome::Failed;
        if (status >= 300 && status < 400)
            result.reason += QStringLiteral(" (redirected: write the final address as url)");
    } else {
        // The error's name and the host alone: Qt's own text repeats the whole URL, which may hold
        // a token.
        const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(reply->error());
        result.outcome = DeliveryResult::Outcome::Retry;
        result.reason = QStringLiteral("%1 (%2)").arg(QLatin1String(name ? name : "network error"), url_.host());
        if (reply->error() == QNetworkReply::OperationCanceledError)
            result.reason = QStringLiteral("no answer within %1 s (%2)").arg(timeoutMs_ / 1000.0).arg(url_.host());
    }
    qCDebug(traceNotify).noquote() << "webhook" << url_.host() << "for" << messageId << ":" << result.reason;
    Q_EMIT finished(messageId, result);
}

} // namespace nms
