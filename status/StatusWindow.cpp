#include "status/StatusWindow.h"

#include <QCollator>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "base/Notices.h"
#include "monitor/LinkMonitor.h"
#include "monitor/StatusModel.h"
#include "status/TrendPane.h"
#include "trends/TrendStore.h"

namespace nms {

namespace {

// A thousand elements answering every few seconds repaint the table once a second.
constexpr int kBatchMs = 1000;

// Sorted by the model's sort values (names in natural order), filtered on name, MAC and IP or by
// a state's word, the state cell coloured.
class Rows final : public QSortFilterProxyModel {
public:
    // Collation in the C locale is plain code order, whatever the mode: numbers then need a language.
    explicit Rows(QObject* parent)
        : QSortFilterProxyModel(parent),
          names_(QLocale::system().language() == QLocale::C ? QLocale(QLocale::English) : QLocale::system())
    {
        names_.setNumericMode(true);
        names_.setCaseSensitivity(Qt::CaseInsensitive);
    }

    void setFilterText(const QString& text)
    {
        filterText_ = text.trimmed();
        filterState_ = -1;
        for (ElementState state : {ElementState::Up, ElementState::Down, ElementState::Silent, ElementState::Unknown}) {
            if (filterText_.compare(StateText(state), Qt::CaseInsensitive) == 0)
                filterState_ = int(state);
        }
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
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        if (left.column() == StatusModel::Name)
            return names_.compare(left.data().toString(), right.data().toString()) < 0;
        return QSortFilterProxyModel::lessThan(left, right);
    }

    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (filterText_.isEmpty())
            return true;
        if (filterState_ >= 0
            && sourceModel()->index(row, StatusModel::State, parent).data(StatusModel::StateRole).toInt()
                == filterState_)
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
    int filterState_ = -1; // the filter is a state's word
    QCollator names_;
};

QString AskSavePath(QWidget* parent, const QString& suggested)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export network status"), suggested,
                                        QStringLiteral("CSV files (*.csv);;All files (*)"));
}

} // namespace

StatusWindow::StatusWindow(const LinkMonitor& monitor, Notices& notices, const TrendStore* trends, QWidget* parent)
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
    filterBox->setPlaceholderText(QStringLiteral("Name, MAC, IP or a state (down, silent)"));
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
    // The state with the mark of an acknowledged alarm or of maintenance (AlarmActions).
    const QStringList widest = {QStringLiteral("Unknown (maintenance)"),
                                QStringLiteral("WWWWWWWWWWWWWWWW"),
                                QStringLiteral("00:00:00:00:00:00"),
                                QStringLiteral("255.255.255.255"),
                                QStringLiteral("Decoder"),
                                QStringLiteral("Round trip (ms)"),
                                QStringLiteral("0000-00-00 00:00:00"),
                                QStringLiteral("Audio peak (dBFS)"),
                                QStringLiteral("23 h 59 min")};
    // Every column shown whole at the window's first size; the header's font is the bold one.
    int tableWidth = 2 * table->frameWidth() + table->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < widest.size(); ++column) {
        const QString header = rows_->headerData(column, Qt::Horizontal).toString();
        QFont bold = font();
        bold.setBold(true);
        const int width =
            std::max(fontMetrics().horizontalAdvance(widest[column]), QFontMetrics(bold).horizontalAdvance(header))
            + 24;
        table->setColumnWidth(column, width);
        tableWidth += width;
    }
    table->setSortingEnabled(true);
    table->sortByColumn(StatusModel::Name, Qt::AscendingOrder);
    connect(table, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { Q_EMIT elementChosen(index.data(StatusModel::KeyRole).toString()); });

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->addWidget(table);
    if (trends) {
        history = new TrendPane(trends->path(), monitor_.settings().silenceDbfs, notices_, this);
        splitter_->addWidget(history);
        connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &StatusWindow::showPicked);
        // Each bucket written is drawn while the window is open.
        connect(trends, &TrendStore::written, history, [this] {
            if (isVisible())
                history->reload();
        });
    }

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
    layout->addWidget(splitter_, 1);
    layout->addWidget(summaryLabel);
    const QMargins margins = layout->contentsMargins();
    resize(tableWidth + margins.left() + margins.right(), history ? 760 : 480);
    restore();
}

StatusWindow::~StatusWindow() = default;

QString StatusWindow::SettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/orbilane-nms/status-window.conf");
}

void StatusWindow::restore()
{
    const QSettings kept(SettingsPath(), QSettings::IniFormat);
    if (kept.contains(QStringLiteral("window/geometry")))
        placed_ = restoreGeometry(kept.value(QStringLiteral("window/geometry")).toByteArray());
    table->horizontalHeader()->restoreState(kept.value(QStringLiteral("window/columns")).toByteArray());
    splitter_->restoreState(kept.value(QStringLiteral("window/splitter")).toByteArray());
    filterBox->setText(kept.value(QStringLiteral("window/filter")).toString());
    if (history)
        history->setSpan(TrendPane::Span(qBound(0, kept.value(QStringLiteral("window/span"), 1).toInt(), 3)));
}

void StatusWindow::keep()
{
    QSettings kept(SettingsPath(), QSettings::IniFormat);
    kept.setValue(QStringLiteral("window/geometry"), saveGeometry());
    kept.setValue(QStringLiteral("window/columns"), table->horizontalHeader()->saveState());
    kept.setValue(QStringLiteral("window/splitter"), splitter_->saveState());
    kept.setValue(QStringLiteral("window/filter"), filterBox->text());
    if (history)
        kept.setValue(QStringLiteral("window/span"), int(history->span()));
}

void StatusWindow::hideEvent(QHideEvent* event)
{
    keep();
    QWidget::hideEvent(event);
}

void StatusWindow::placeBeside(const QRect& frame)
{
    if (placed_)
        return;
    const QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    const QSize size = frameGeometry().size();
    int x = frame.right() + 1;
    if (x + size.width() > room.right() + 1)
        x = frame.left() - size.width() >= room.left() ? frame.left() - size.width()
                                                       : std::max(room.left(), room.right() + 1 - size.width());
    const int y = std::max(room.top(), std::min(frame.top(), room.bottom() + 1 - size.height()));
    move(x, y);
}

void StatusWindow::showPicked()
{
    const QModelIndex current = table->selectionModel()->currentIndex();
    if (!current.isValid()) {
        history->showElement(QString(), QString());
        return;
    }
    history->showElement(current.siblingAtColumn(StatusModel::Name).data(StatusModel::KeyRole).toString(),
                         current.siblingAtColumn(StatusModel::Name).data().toString());
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
