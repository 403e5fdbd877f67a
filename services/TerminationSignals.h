#pragma once
// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the event loop, so that an end requested
// by the system runs the same shutdown as the close button.

#include <QObject>

class QSocketNotifier;

namespace nms {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace nms
