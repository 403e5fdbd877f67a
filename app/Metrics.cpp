#include "app/Metrics.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <charconv>
#include <cmath>
#include <type_traits>
#include <utility>

#include "database/ElementRecords.h"

namespace nms {

namespace {

void Family(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// Numbers as %.15g would write them, without an allocation per sample.
void AppendNumber(QByteArray& out, double value)
{
    if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    out.append(buffer, result.ptr - buffer);
}

void AppendNumber(QByteArray& out, qint64 value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

// name{labels} or name{labels,extra}, then the value.
template <typename Value>
void Sample(QByteArray& out, const char* name, const QByteArray& labels, Value value, const char* extra = nullptr)
{
    out += name;
    if (!labels.isEmpty() || extra) {
        out += '{';
        out += labels;
        if (extra) {
            if (!labels.isEmpty())
                out += ',';
            out += extra;
        }
        out += '}';
    }
    out += ' ';
    if constexpr (std::is_same_v<Value, const char*>)
        out += value;
    else
        AppendNumber(out, value);
    out += '\n';
}

void AppendLabel(QByteArray& labels, const char* key, const QString& value)
{
    if (!labels.isEmpty())
        labels += ',';
    labels += key;
    labels += "=\"";
    labels += EscapeLabelValue(value);
    labels += '"';
}

// The element's fields as the event log names them (ElementEventFields), without building a
// JSON object for each element at every scrape.
QByteArray Labels(const WatchedElement& element)
{
    const ElementRecord& record = element.record;
    QStringView name = record.name;
    while (!name.isEmpty() && (name.back() == u' ' || name.back() == u'\t' || name.back() == QChar(0)))
        name.chop(1);
    QByteArray labels;
    labels.reserve(96);
    AppendLabel(labels, "mac", KeyToMacText(record.key));
    AppendLabel(labels, "name", name.toString());
    AppendLabel(labels, "ip", record.ip);
    AppendLabel(labels, "role", StoredRoleWord(record.role));
    return labels;
}

} // namespace

QByteArray EscapeLabelValue(const QString& value)
{
    QByteArray utf8 = value.toUtf8();
    // Most values need nothing escaped.
    if (!utf8.contains('\\') && !utf8.contains('"') && !utf8.contains('\n'))
        return utf8;
    QByteArray out;
    out.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

QByteArray MetricsText(const QList<WatchedElement>& elements, const QList<NotifierCount>& notifiers,
                       const QString& version)
{
    QList<QByteArray> labels;
    labels.reserve(elements.size());
    for (const WatchedElement& element : elements)
        labels.append(Labels(element));
    QByteArray out;
    out.reserve(qsizetype(elements.size()) * 1400 + 2048);

    Family(out, "orbilane_build_info", "gauge", "The program's version; always 1.");
    const QByteArray versionLabel = "version=\"" + EscapeLabelValue(version) + '"';
    Sample(out, "orbilane_build_info", versionLabel, "1");
    Family(out, "orbilane_elements", "gauge", "Elements watched.");
    Sample(out, "orbilane_elements", {}, qint64(elements.size()));

    Family(out, "orbilane_element_up", "gauge",
           "1 when the element answers its echo (up or silent), 0 when it is down; absent while unknown.");
    for (int i = 0; i < elements.size(); ++i) {
        const ElementState state = elements.at(i).state;
        if (state != ElementState::Unknown)
            Sample(out, "orbilane_element_up", labels.at(i), state == ElementState::Down ? "0" : "1");
    }
    Family(out, "orbilane_element_state", "gauge", "1 for the element's state, 0 for the others.");
    static const std::pair<ElementState, const char*> kStates[] = {{ElementState::Up, "state=\"up\""},
                                                                   {ElementState::Down, "state=\"down\""},
                                                                   {ElementState::Silent, "state=\"silent\""},
                                                                   {ElementState::Unknown, "state=\"unknown\""}};
    for (int i = 0; i < elements.size(); ++i) {
        for (const auto& [state, label] : kStates)
            Sample(out, "orbilane_element_state", labels.at(i), elements.at(i).state == state ? "1" : "0", label);
    }
    Family(out, "orbilane_element_rtt_seconds", "gauge", "Round trip of the element's last echo answer.");
    for (int i = 0; i < elements.size(); ++i) {
        const double rtt = elements.at(i).roundTripMs;
        if (rtt >= 0 && std::isfinite(rtt))
            Sample(out, "orbilane_element_rtt_seconds", labels.at(i), rtt / 1000.0);
    }
    Family(out, "orbilane_encoder_audio_peak_dbfs", "gauge",
           "Peak of an encoder's last level answer in dBFS (-Inf: digital silence).");
    for (int i = 0; i < elements.size(); ++i) {
        const double peak = elements.at(i).peakDbfs;
        if (elements.at(i).encoder && !std::isnan(peak))
            Sample(out, "orbilane_encoder_audio_peak_dbfs", labels.at(i), peak);
    }
    Family(out, "orbilane_element_last_seen_timestamp_seconds", "gauge",
           "When the element last answered its echo, seconds since the epoch.");
    for (int i = 0; i < elements.size(); ++i) {
        if (elements.at(i).lastSeenMs > 0)
            Sample(out, "orbilane_element_last_seen_timestamp_seconds", labels.at(i),
                   double(elements.at(i).lastSeenMs) / 1000.0);
    }
    Family(out, "orbilane_element_state_change_timestamp_seconds", "gauge",
           "Since when the element's state holds, seconds since the epoch.");
    for (int i = 0; i < elements.size(); ++i) {
        if (elements.at(i).sinceMs > 0)
            Sample(out, "orbilane_element_state_change_timestamp_seconds", labels.at(i),
                   double(elements.at(i).sinceMs) / 1000.0);
    }
    if (!notifiers.isEmpty()) {
        QList<QByteArray> notifierLabels;
        for (const NotifierCount& count : notifiers)
            notifierLabels.append("notifier=\"" + EscapeLabelValue(count.notifier) + '"');
        Family(out, "orbilane_notify_sent_total", "counter", "Alarms a notifier delivered.");
        for (int i = 0; i < notifiers.size(); ++i)
            Sample(out, "orbilane_notify_sent_total", notifierLabels.at(i), qint64(notifiers.at(i).sent));
        Family(out, "orbilane_notify_failed_total", "counter", "Alarms a notifier failed to deliver.");
        for (int i = 0; i < notifiers.size(); ++i)
            Sample(out, "orbilane_notify_failed_total", notifierLabels.at(i), qint64(notifiers.at(i).failed));
    }
    return out;
}

// Qt HTTP Server's request handling without its router: one path, one method.
class MetricsServer::Endpoint final : public QAbstractHttpServer {
public:
    Endpoint(std::function<QByteArray()>& body, QObject* parent) : QAbstractHttpServer(parent), body_(body) { }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        if (request.method() != QHttpServerRequest::Method::Get || request.url().path() != u"/metrics")
            return false;
        makeResponder(request, socket)
            .write(body_(), "text/plain; version=0.0.4; charset=utf-8", QHttpServerResponder::StatusCode::Ok);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    std::function<QByteArray()>& body_;
};

// Accepts connections within the bounds: a client that sends too much, stays too long or comes
// once too many is cut off, so the event loop the monitor shares never waits on one.
class MetricsServer::BoundedServer final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (open_ >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        // Connected before the HTTP server's own handler, so this sees each chunk before it is read.
        auto received = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, received] {
            *received += socket->bytesAvailable();
            if (*received > kMaxRequestBytes)
                socket->abort();
        });
        QTimer::singleShot(kConnectionMs, socket, [socket] { socket->abort(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        addPendingConnection(socket);
    }

private:
    int open_ = 0;
};

MetricsServer::MetricsServer(std::function<QByteArray()> body, QObject* parent)
    : QObject(parent), body_(std::move(body))
{
}

MetricsServer::~MetricsServer()
{
    close();
}

bool MetricsServer::listen(const QString& address, quint16 port, QString* error)
{
    close();
    auto* server = new BoundedServer(this);
    if (!server->listen(QHostAddress(address), port)) {
        *error = server->errorString();
        delete server;
        return false;
    }
    server_ = server;
    endpoint_ = new Endpoint(body_, this);
    endpoint_->bind(server);
    return true;
}

void MetricsServer::close()
{
    // Whichever of the two owns the server once bound, it goes with them.
    delete endpoint_;
    endpoint_ = nullptr;
    delete server_.data();
}

bool MetricsServer::listening() const
{
    return server_ && server_->isListening();
}

quint16 MetricsServer::port() const
{
    return server_ ? server_->serverPort() : 0;
}

} // namespace nms
