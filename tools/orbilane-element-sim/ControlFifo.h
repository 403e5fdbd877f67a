#pragma once
// A named pipe that takes command lines while the simulator runs: made at start, removed at the
// end. Its read end is opened anew each time the last writer closes it, so that
// `echo down 3 > PATH` works as often as it is given.

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace sim {

class ControlFifo : public QObject {
    Q_OBJECT
public:
    explicit ControlFifo(QObject* parent = nullptr);
    ~ControlFifo() override;

    // Makes the FIFO at `path` (where nothing may be yet) and starts reading it.
    bool open(const QString& path, QString* error);

Q_SIGNALS:
    // One line, without its newline; a writer's last line needs none.
    void lineReceived(const QByteArray& line);

private:
    bool openReadEnd(QString* error);
    void closeReadEnd();
    void readAvailable();
    void takeLines();

    QByteArray m_path; // set once the FIFO is made, and so ours to remove
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
};

} // namespace sim
