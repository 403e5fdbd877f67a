#pragma once
// type=webhook: an HTTP(S) POST through Qt Network. format=json sends the message's JSON,
// format=text a {"text": ...} body that chat systems' incoming webhooks take, format=ntfy the
// plain text with Title, Priority and Tags headers. 2xx is delivered; 429, 5xx and network errors
// are tried again; any other answer is refused for good.

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <memory>

#include "transports/NotifierGroup.h"
#include "transports/Transport.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace nms {

struct WebhookPayload {
    QByteArray contentType;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

class WebhookTransport : public Transport {
    Q_OBJECT
public:
    static std::unique_ptr<WebhookTransport> Create(NotifierGroup& group);
    ~WebhookTransport() override;

    QString type() const override { return QStringLiteral("webhook"); }
    void deliver(const NotifyMessage& message) override;

    // What is posted for `format` (json, text or ntfy).
    static WebhookPayload Payload(const QString& format, const NotifyMessage& message);

private:
    WebhookTransport(const QUrl& url, const QList<std::pair<QByteArray, QByteArray>>& headers, const QString& format,
                     bool insecure, int timeoutMs);
    void answered(QNetworkReply* reply, const QString& messageId);

    QUrl url_;
    QList<std::pair<QByteArray, QByteArray>> headers_; // the settings' own lines: never traced
    QString format_;
    bool insecure_;
    int timeoutMs_;
    QNetworkAccessManager* network_;
};

} // namespace nms
