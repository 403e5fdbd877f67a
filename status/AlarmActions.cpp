#include "status/AlarmActions.h"

#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QTableView>

#include "base/Notices.h"
#include "monitor/LinkMonitor.h"
#include "monitor/StatusModel.h"
#include "notify/AlarmStates.h"

namespace nms {

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;

// The state word with what was said about the element's alarms.
class StateDelegate final : public QStyledItemDelegate {
public:
    StateDelegate(const AlarmStates& states, QObject* parent) : QStyledItemDelegate(parent), states_(states) { }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString key = index.data(StatusModel::KeyRole).toString();
        if (states_.inMaintenance(key))
            option->text += QStringLiteral(" (maintenance)");
        else if (states_.acknowledged(key))
            option->text += QStringLiteral(" (ack)");
    }

private:
    const AlarmStates& states_;
};

struct Duration {
    QString text;
    qint64 ms;
};

const QList<Duration>& Durations()
{
    static const QList<Duration> durations = {
        {QStringLiteral("30 minutes"), 30 * kMinuteMs},      {QStringLiteral("1 hour"), 60 * kMinuteMs},
        {QStringLiteral("2 hours"), 120 * kMinuteMs},        {QStringLiteral("4 hours"), 240 * kMinuteMs},
        {QStringLiteral("8 hours"), 480 * kMinuteMs},        {QStringLiteral("1 day"), 24 * 60 * kMinuteMs},
        {QStringLiteral("1 week"), 7 * 24 * 60 * kMinuteMs},
    };
    return durations;
}

void Tell(Notices& notices, bool done, const QString& error)
{
    if (!done && !error.isEmpty())
        notices.error(QStringLiteral("Network status"), QStringLiteral("It could not be saved:\r") + error);
}

} // namespace

void AddAlarmActions(QTableView& table, AlarmStates& states, const LinkMonitor& monitor, Notices& notices)
{
    table.setItemDelegateForColumn(StatusModel::State, new StateDelegate(states, &table));
    QObject::connect(&states, &AlarmStates::changed, table.viewport(), qOverload<>(&QWidget::update));
    table.setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(&table, &QWidget::customContextMenuRequested, &table, [&](const QPoint& at) {
        const int index = monitor.indexOf(table.indexAt(at).data(StatusModel::KeyRole).toString());
        if (index < 0)
            return;
        const WatchedElement element = monitor.elements().at(index);
        const QString key = element.record.key;
        QMenu menu(&table);
        QAction* acknowledge = menu.addAction(QStringLiteral("&Acknowledge"));
        acknowledge->setEnabled((element.state == ElementState::Down || element.state == ElementState::Silent)
                                && !states.acknowledged(key));
        QAction* maintenance = menu.addAction(QStringLiteral("&Maintenance for..."));
        QAction* end = menu.addAction(QStringLiteral("&End maintenance"));
        end->setEnabled(states.inMaintenance(key));
        QAction* chosen = menu.exec(table.viewport()->mapToGlobal(at));
        QString error;
        if (chosen == acknowledge) {
            bool ok = false;
            const QString comment =
                QInputDialog::getText(&table, QStringLiteral("Acknowledge"), QStringLiteral("Comment (optional):"),
                                      QLineEdit::Normal, QString(), &ok);
            if (ok)
                Tell(notices, states.acknowledge(element.record, comment.trimmed(), &error), error);
        } else if (chosen == maintenance) {
            QStringList texts;
            for (const Duration& duration : Durations())
                texts.append(duration.text);
            bool ok = false;
            const QString text = QInputDialog::getItem(
                &table, QStringLiteral("Maintenance"),
                QStringLiteral("No alarms from %1 for:").arg(element.record.name.trimmed()), texts, 1, false, &ok);
            if (ok)
                Tell(notices,
                     states.startMaintenance(element.record, Durations().at(texts.indexOf(text)).ms, QString(), &error),
                     error);
        } else if (chosen == end) {
            Tell(notices, states.endMaintenance(element.record, QString(), &error), error);
        }
        table.viewport()->update();
    });
}

} // namespace nms
