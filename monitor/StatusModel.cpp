#include "monitor/StatusModel.h"

#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QTimer>

#include <QtEndian>

#include <algorithm>
#include <cmath>

#include "base/Csv.h"
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
    : QAbstractTableModel(parent), monitor_(monitor), batch_(new QTimer(this))
{
    batch_->setSingleShot(true);
    batch_->setInterval(batchMs);
    connect(batch_, &QTimer::timeout, this, &StatusModel::flush);
    connect(&monitor_, &LinkMonitor::elementsReset, this, [this] {
        batch_->stop();
        dirty_.clear();
        beginResetModel();
        endResetModel();
    });
    connect(&monitor_, &LinkMonitor::elementUpdated, this, [this](int row) {
        dirty_.insert(row);
        if (!batch_->isActive())
            batch_->start();
    });
}

void StatusModel::flush()
{
    if (dirty_.isEmpty())
        return;
    const auto [low, high] = std::minmax_element(dirty_.cbegin(), dirty_.cend());
    const int first = *low;
    const int last = qMin(*high, rowCount() - 1);
    dirty_.clear();
    if (first <= last)
        Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount - 1));
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
        return std::isfinite(element.peakDbfs) ? QString::number(element.peakDbfs, 'f', 1) : QStringLiteral("-inf");
    case Since: return sort ? QVariant(element.sinceMs) : QVariant(TimeText(element.sinceMs));
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
            fields.append(model.data(model.index(row, column)).toString());
        text += CsvLine(fields);
    }
    const QByteArray bytes = text.toUtf8();
    return out.write(bytes) == bytes.size();
}

} // namespace nms
