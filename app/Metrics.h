#pragma once
// The monitor's state for Prometheus: the text exposition format (version 0.0.4) built from
// what the monitor holds, and the small HTTP endpoint that serves it at GET /metrics. Both only
// read the monitor; a scrape never waits for the network and never holds up the monitor.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <functional>

#include "monitor/LinkMonitor.h"

namespace nms {

// What one notifier has delivered and failed to deliver since the program started.
struct NotifierCount {
    QString notifier;
    quint64 sent = 0;
    quint64 failed = 0;
};

// A label value with backslash, double quote and line feed escaped as the format asks.
QByteArray EscapeLabelValue(const QString& value);

// Every family with its HELP and TYPE lines. Samples of a value the monitor does not have (no
// round trip yet, no level answer, never seen) are left out, not written as NaN; an element
// whose state is Unknown has no orbilane_element_up. No notifier: no notify families at all.
QByteArray MetricsText(const QList<WatchedElement>& elements, const QList<NotifierCount>& notifiers,
                       const QString& version);

// GET /metrics over HTTP/1.1 through Qt HTTP Server; anything else is 404. A client may keep at
// most kMaxRequestBytes in flight and a connection lives at most kConnectionMs; at most
// kMaxConnections at once, the rest closed at once.
class MetricsServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 16;
    static constexpr qint64 kMaxRequestBytes = 16 * 1024;
    static constexpr int kConnectionMs = 10000;

    explicit MetricsServer(std::function<QByteArray()> body, QObject* parent = nullptr);
    ~MetricsServer() override;

    // False with the reason when the address cannot be listened on.
    bool listen(const QString& address, quint16 port, QString* error);
    void close();
    bool listening() const;
    quint16 port() const;

private:
    class Endpoint;
    class BoundedServer;
    std::function<QByteArray()> body_;
    Endpoint* endpoint_ = nullptr;
    QPointer<QTcpServer> server_;
};

} // namespace nms
