#include "status/StatusWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "base/Notices.h"
#include "monitor/LinkMonitor.h"
#include "monitor/StatusModel.h"

namespace nms {

namespace {

constexpr int kBatchMs = 250; // as the model's

// Sorted by the model's sort values, filtered on name, MAC and IP, the state cell coloured.
class Rows final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setFilterText(const QString& text)
    {
        filterText_ = text.trimmed();
        invalidateRowsFilter();
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.column() == StatusModel::State && (role == Qt::BackgroundRole || role == Qt::ForegroundRole)) {
            const auto state = ElementState(QSortFilterProxyModel::data(index, StatusModel::StateRole).toInt());
            return role == Qt::BackgroundRole ? Background(state) : Foreground(state);
        }
        return QSortFilterProxyModel::data(index, role);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (filterText_.isEmpty())
            return true;
        for (int column : {StatusModel::Name, StatusModel::Mac, StatusModel::Ip}) {
            const QString text = sourceModel()->index(row, column, parent).data().toString();
            if (text.contains(filterText_, Qt::CaseInsensitive))
                return true;
        }
        return false;
    }

private:
    static QColor Background(ElementState state)
    {
        switch (state) {
        case ElementState::Up: return QColor(198, 239, 206);
        case ElementState::Down: return QColor(204, 32, 32);
        case ElementState::Silent: return QColor(255, 192, 0);
        case ElementState::Unknown: break;
        }
        return QColor(217, 217, 217);
    }
    static QColor Foreground(ElementState state)
    {
        switch (state) {
        case ElementState::Up: return QColor(0, 97, 0);
        case ElementState::Down: return QColor(Qt::white);
        case ElementState::Silent: return QColor(Qt::black);
        case ElementState::Unknown: break;
        }
        return QColor(64, 64, 64);
    }

    QString filterText_;
};

QString AskSavePath(QWidget* parent, const QString& suggested)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export network status"), suggested,
                                        QStringLiteral("CSV files (*.csv);;All files (*)"));
}

} // namespace

StatusWindow::StatusWindow(const LinkMonitor& monitor, Notices& notices, QWidget* parent)
    : QWidget(parent, Qt::Window),
      monitor_(monitor),
      notices_(notices),
      summaryBatch_(new QTimer(this)),
      pickSavePath_(AskSavePath)
{
    setObjectName(QStringLiteral("StatusWindow"));
    setWindowTitle(QStringLiteral("Network status"));

    auto* shown = new Rows(this);
    shown->setSourceModel(new StatusModel(monitor_, kBatchMs, this));
    shown->setSortRole(StatusModel::SortRole);
    shown->setSortCaseSensitivity(Qt::CaseInsensitive);
    rows_ = shown;

    auto* filterLabel = new QLabel(QStringLiteral("&Filter:"), this);
    filterBox = new QLineEdit(this);
    filterBox->setPlaceholderText(QStringLiteral("Name, MAC or IP"));
    filterBox->setClearButtonEnabled(true);
    filterLabel->setBuddy(filterBox);
    connect(filterBox, &QLineEdit::textChanged, shown, &Rows::setFilterText);
    exportButton = new QPushButton(QStringLiteral("&Export..."), this);
    connect(exportButton, &QPushButton::clicked, this, &StatusWindow::exportShown);

    table = new QTableView(this);
    table->setModel(rows_);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setAlternatingRowColors(true);
    // Every row the same height and the columns sized once: nothing measures rows per update.
    QHeaderView* vertical = table->verticalHeader();
    vertical->hide();
    vertical->setSectionResizeMode(QHeaderView::Fixed);
    vertical->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* horizontal = table->horizontalHeader();
    horizontal->setSectionResizeMode(QHeaderView::Interactive);
    horizontal->setStretchLastSection(true);
    const QStringList widest = {QStringLiteral("Unknown"),
                                QStringLiteral("WWWWWWWWWWWWWWWW"),
                                QStringLiteral("00:00:00:00:00:00"),
                                QStringLiteral("255.255.255.255"),
                                QStringLiteral("Decoder"),
                                QStringLiteral("Round trip (ms)"),
                                QStringLiteral("0000-00-00 00:00:00"),
                                QStringLiteral("Audio peak (dBFS)")};
    for (int column = 0; column < widest.size(); ++column)
        table->setColumnWidth(column, fontMetrics().horizontalAdvance(widest[column]) + 24);
    table->setSortingEnabled(true);
    table->sortByColumn(StatusModel::Name, Qt::AscendingOrder);
    connect(table, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { Q_EMIT elementChosen(index.data(StatusModel::KeyRole).toString()); });

    summaryLabel = new QLabel(this);
    summaryBatch_->setSingleShot(true);
    summaryBatch_->setInterval(kBatchMs);
    connect(summaryBatch_, &QTimer::timeout, this, &StatusWindow::showSummary);
    const auto changed = [this] {
        if (!summaryBatch_->isActive())
            summaryBatch_->start();
    };
    connect(&monitor_, &LinkMonitor::elementsReset, this, changed);
    connect(&monitor_, &LinkMonitor::stateChanged, this, changed);
    showSummary();

    auto* top = new QHBoxLayout;
    top->addWidget(filterLabel);
    top->addWidget(filterBox, 1);
    top->addStretch(1);
    top->addWidget(exportButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table, 1);
    layout->addWidget(summaryLabel);
    resize(960, 480);
}

void StatusWindow::showSummary()
{
    summaryLabel->setText(SummaryText(monitor_.summary()));
}

bool StatusWindow::exportShown()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = pickSavePath_(this, QDir(documents).filePath(QStringLiteral("network-status.csv")));
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && WriteModelCsv(*rows_, file) && file.commit())
        return true;
    notices_.error(QStringLiteral("Error!"),
                   QStringLiteral("The file (%1) could not be written.").arg(QDir::toNativeSeparators(path))
                       + QStringLiteral("\rThe network status was not exported."));
    return false;
}

} // namespace nms
