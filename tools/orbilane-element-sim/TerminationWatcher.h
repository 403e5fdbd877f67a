#pragma once
// Turns SIGTERM and SIGINT into a Qt signal. The handler only writes one byte to a socket
// pair; the event loop reads it, since nothing else is safe inside a signal handler.

#include <QObject>

class QSocketNotifier;

namespace sim {

class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

    bool install(QString* error);

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace sim
