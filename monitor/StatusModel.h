#pragma once
// Every watched element as a table: its state (as text: never colour alone), name, MAC, IP, role,
// round trip, last seen, audio peak and since when its state holds. Changes reach views in
// batches, so a thousand elements answering every few seconds never make a view redraw per probe.

#include <QAbstractTableModel>
#include <QSet>

class QIODevice;
class QTimer;

namespace nms {

class LinkMonitor;

class StatusModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { State, Name, Mac, Ip, Role, RoundTrip, LastSeen, Peak, Since, ColumnCount };
    // Sorts by number or time where the text would sort wrongly.
    static constexpr int SortRole = Qt::UserRole;
    // The ElementState as an int, for a view's colour.
    static constexpr int StateRole = Qt::UserRole + 1;
    // The element's section key.
    static constexpr int KeyRole = Qt::UserRole + 2;

    explicit StatusModel(const LinkMonitor& monitor, int batchMs = 250, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void flush();

    const LinkMonitor& monitor_;
    QTimer* batch_;
    QSet<int> dirty_;
};

// The rows of a model (as a view sorts and filters them) as CSV with a header row, UTF-8.
bool WriteModelCsv(const QAbstractItemModel& model, QIODevice& out);

} // namespace nms
