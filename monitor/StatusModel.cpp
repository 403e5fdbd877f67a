#include "monitor/StatusModel.h"

#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QTimer>

#include <QtEndian>

#include <algorithm>
#include <cmath>

#include "base/Csv.h"
#include "base/Duration.h"
#include "database/ElementRecords.h"
#include "monitor/LinkMonitor.h"

namespace nms {

namespace {

QString TimeText(qint64 ms)
{
    if (ms <= 0)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

StatusModel::StatusModel(const LinkMonitor& monitor, int batchMs, QObject* parent)
    : QAbstractTableModel(parent), monitor_(monitor), batch_(new QTimer(this)), ageing_(new QTimer(this))
{
    batch_->setSingleShot(true);
    batch_->setInterval(batchMs);
    connect(batch_, &QTimer::timeout, this, &StatusModel::flush);
    connect(&monitor_, &LinkMonitor::elementsReset, this, [this] {
        batch_->stop();
        dirty_.clear();
        stateDirty_.clear();
        beginResetModel();
        endResetModel();
    });
    connect(&monitor_, &LinkMonitor::elementUpdated, this, [this](int row) { changed(row, dirty_); });
    connect(&monitor_, &LinkMonitor::stateChanged, this, [this](int row) { changed(row, stateDirty_); });
    ageing_->setInterval(15 * 1000);
    connect(ageing_, &QTimer::timeout, this, [this] {
        if (rowCount() > 0)
            Q_EMIT dataChanged(index(0, Since), index(rowCount() - 1, Since), {Qt::DisplayRole});
    });
    ageing_->start();
}

void StatusModel::changed(int row, QSet<int>& dirty)
{
    dirty.insert(row);
    if (!batch_->isActive())
        batch_->start();
}

void StatusModel::flush()
{
    const auto emitRange = [this](QSet<int>& rows, int firstColumn, int lastColumn) {
        if (rows.isEmpty())
            return;
        const auto [low, high] = std::minmax_element(rows.cbegin(), rows.cend());
        const int first = *low;
        const int last = qMin(*high, rowCount() - 1);
        rows.clear();
        if (first <= last)
            Q_EMIT dataChanged(index(first, firstColumn), index(last, lastColumn));
    };
    emitRange(stateDirty_, 0, ColumnCount - 1);
    emitRange(dirty_, RoundTrip, Peak);
}

int StatusModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(monitor_.elements().size());
}

int StatusModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StatusModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case State: return QStringLiteral("State");
    case Name: return QStringLiteral("Name");
    case Mac: return QStringLiteral("MAC");
    case Ip: return QStringLiteral("IP");
    case Role: return QStringLiteral("Role");
    case RoundTrip: return QStringLiteral("Round trip (ms)");
    case LastSeen: return QStringLiteral("Last seen");
    case Peak: return QStringLiteral("Audio peak (dBFS)");
    case Since: return QStringLiteral("Since");
    }
    return {};
}

QVariant StatusModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const WatchedElement& element = monitor_.elements().at(index.row());
    if (role == KeyRole)
        return element.record.key;
    if (role == StateRole)
        return int(element.state);
    if (role == ExportRole) {
        if (index.column() == Since)
            return TimeText(element.sinceMs);
        if (index.column() == Peak && element.encoder && std::isinf(element.peakDbfs))
            return QString();
        return data(index, Qt::DisplayRole);
    }
    if (role != Qt::DisplayRole && role != SortRole)
        return {};
    const bool sort = role == SortRole;
    switch (index.column()) {
    case State: return sort ? QVariant(int(element.state)) : QVariant(StateText(element.state));
    case Name: return element.record.name.trimmed();
    case Mac: return KeyToMacText(element.record.key);
    case Ip: return sort ? QVariant(qulonglong(qFromBigEndian(element.address))) : QVariant(element.record.ip);
    case Role: {
        QString word = StoredRoleWord(element.record.role);
        word[0] = word[0].toUpper();
        return word;
    }
    case RoundTrip:
        if (element.roundTripMs < 0)
            return sort ? QVariant(-1.0) : QVariant(QString());
        return sort ? QVariant(element.roundTripMs) : QVariant(QString::number(element.roundTripMs, 'f', 1));
    case LastSeen: return sort ? QVariant(element.lastSeenMs) : QVariant(TimeText(element.lastSeenMs));
    case Peak:
        if (!element.encoder || std::isnan(element.peakDbfs))
            return sort ? QVariant(-1000.0) : QVariant(QString());
        if (sort)
            return std::isfinite(element.peakDbfs) ? element.peakDbfs : -999.0;
        // Digital silence has no decibel figure.
        return std::isfinite(element.peakDbfs) ? QString::number(element.peakDbfs, 'f', 1) : QStringLiteral("silence");
    case Since:
        if (sort || element.sinceMs <= 0)
            return sort ? QVariant(element.sinceMs) : QVariant(QString());
        return DurationText(QDateTime::currentMSecsSinceEpoch() - element.sinceMs);
    }
    return {};
}

bool WriteModelCsv(const QAbstractItemModel& model, QIODevice& out)
{
    QStringList header;
    for (int column = 0; column < model.columnCount(); ++column)
        header.append(model.headerData(column, Qt::Horizontal).toString());
    QString text = CsvLine(header);
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList fields;
        for (int column = 0; column < model.columnCount(); ++column)
            fields.append(model.data(model.index(row, column), StatusModel::ExportRole).toString());
        text += CsvLine(fields);
    }
    const QByteArray bytes = text.toUtf8();
    return out.write(bytes) == bytes.size();
}

} // namespace nms
