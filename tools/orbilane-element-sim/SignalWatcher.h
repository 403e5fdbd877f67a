#pragma once
// Turns POSIX signals into a Qt signal. The handler only writes the signal's number to a socket
// pair; the event loop reads it, since nothing else is safe inside a signal handler.

#include <QList>
#include <QObject>

class QSocketNotifier;

namespace sim {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // Catches `signalNumbers` from now on; call once.
    bool install(const QList<int>& signalNumbers, QString* error);

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
    QList<int> m_caught;
};

} // namespace sim
