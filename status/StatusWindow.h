#pragma once
// Every watched element at a glance: the monitor's table, sorted by a click on a header (names in
// natural order: "TX 2" before "TX 10") and filtered by name, MAC, IP or a state word ("down"),
// each element's state as its word on the state's colour, and a summary line; below it the
// history of the element picked. A double click asks for that element in the main window; Export
// writes the table as shown to a CSV file. Changes arrive in batches, so a thousand elements
// never stall it. Its size, place, columns, sort, filter and span are kept for the next opening
// in the user's configuration folder.

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QSplitter;
class QTableView;
class QTimer;

namespace nms {

class LinkMonitor;
class Notices;
class TrendPane;
class TrendStore;

class StatusWindow : public QWidget {
    Q_OBJECT
public:
    // The file to export to, asked with the suggested path; empty when the operator cancels.
    using SavePathPicker = std::function<QString(QWidget* parent, const QString& suggested)>;

    // trends: the history drawn for the element picked; none, no history pane.
    StatusWindow(const LinkMonitor& monitor, Notices& notices, const TrendStore* trends = nullptr,
                 QWidget* parent = nullptr);
    ~StatusWindow() override;

    // $XDG_CONFIG_HOME/orbilane-nms/status-window.conf: what the window keeps between openings.
    static QString SettingsPath();
    // Places the window beside that frame (the main window's) where the screen has room, unless
    // a place was kept from before.
    void placeBeside(const QRect& frame);

    // Tests answer the file dialog.
    void setSavePathPicker(SavePathPicker picker) { pickSavePath_ = std::move(picker); }
    // The table as shown, sorted and filtered, to a file the operator picks. A file that cannot
    // be written is reported; false when nothing was written.
    bool exportShown();

    QLineEdit* filterBox;
    QPushButton* exportButton;
    QTableView* table;
    QLabel* summaryLabel;
    TrendPane* history = nullptr;

Q_SIGNALS:
    // A double click on the row of that element.
    void elementChosen(const QString& key);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void showSummary();
    void showPicked();
    void restore();
    void keep();

    const LinkMonitor& monitor_;
    Notices& notices_;
    QSortFilterProxyModel* rows_; // the monitor's table as shown
    QTimer* summaryBatch_;
    SavePathPicker pickSavePath_;
    QSplitter* splitter_;
    bool placed_ = false; // a kept geometry was restored
};

} // namespace nms
