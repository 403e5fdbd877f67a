#pragma once
// Every watched element at a glance: the monitor's table, sorted by a click on a header and
// filtered by name, MAC or IP, each element's state as its word on the state's colour, and a
// summary line. A double click asks for that element in the main window; Export writes the table
// as shown to a CSV file. Changes arrive in batches, so a thousand elements never stall it.

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

namespace nms {

class LinkMonitor;
class Notices;

class StatusWindow : public QWidget {
    Q_OBJECT
public:
    // The file to export to, asked with the suggested path; empty when the operator cancels.
    using SavePathPicker = std::function<QString(QWidget* parent, const QString& suggested)>;

    StatusWindow(const LinkMonitor& monitor, Notices& notices, QWidget* parent = nullptr);

    // Tests answer the file dialog.
    void setSavePathPicker(SavePathPicker picker) { pickSavePath_ = std::move(picker); }
    // The table as shown, sorted and filtered, to a file the operator picks. A file that cannot
    // be written is reported; false when nothing was written.
    bool exportShown();

    QLineEdit* filterBox;
    QPushButton* exportButton;
    QTableView* table;
    QLabel* summaryLabel;

Q_SIGNALS:
    // A double click on the row of that element.
    void elementChosen(const QString& key);

private:
    void showSummary();

    const LinkMonitor& monitor_;
    Notices& notices_;
    QSortFilterProxyModel* rows_; // the monitor's table as shown
    QTimer* summaryBatch_;
    SavePathPicker pickSavePath_;
};

} // namespace nms
