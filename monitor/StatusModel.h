#pragma once
// Every watched element as a table: its state (as text: never colour alone), name, MAC, IP, role,
// round trip, last seen, audio peak ("silence" for digital silence) and how long its state has
// held. Changes reach views in
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
    // The text an export writes where it differs from the cell's: no peak for silence, and
    // the time a state began rather than how long ago.
    static constexpr int ExportRole = Qt::UserRole + 3;

    explicit StatusModel(const LinkMonitor& monitor, int batchMs = 250, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void flush();
    void changed(int row, QSet<int>& dirty);

    const LinkMonitor& monitor_;
    QTimer* batch_;
    QTimer* ageing_; // "Since" grows older with nothing changed
    // Rows whose figures changed, and rows whose state changed: a figure alone repaints its
    // cells and never moves a row of a view sorted by name or state.
    QSet<int> dirty_;
    QSet<int> stateDirty_;
};

// The rows of a model (as a view sorts and filters them) as CSV with a header row, UTF-8.
bool WriteModelCsv(const QAbstractItemModel& model, QIODevice& out);

} // namespace nms
