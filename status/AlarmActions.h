#pragma once
// The network status window's part in acknowledgements and maintenance: a right-click on an
// element's row offers "Acknowledge" (its alarm: no more reminders), "Maintenance for..." and
// "End maintenance", and the state cell says either ("Down (ack)", "Up (maintenance)").

class QTableView;

namespace nms {

class AlarmStates;
class LinkMonitor;
class Notices;

// The table's rows carry StatusModel's KeyRole.
void AddAlarmActions(QTableView& table, AlarmStates& states, const LinkMonitor& monitor, Notices& notices);

} // namespace nms
