#include "console/ElementCommands.h"

#include <QAction>

#include "app/ConsoleCore.h"
#include "console/FrmPaging.h"
#include "notices/NoticePresenter.h"

namespace nms {

ElementCommands::ElementCommands(ConsoleCore& core, NoticePresenter& notices, QAction* mnuAdd, QAction* mnuDelete,
                                 QObject* parent)
    : QObject(parent), core_(core), notices_(notices)
{
    connect(mnuAdd, &QAction::triggered, this, &ElementCommands::mnuAdd_Click);
    connect(mnuDelete, &QAction::triggered, this, &ElementCommands::mnuDelete_Click);
    mnuDelete->setEnabled(core_.state.hasSelection());
    connect(&core_.state, &ConsoleState::selectionChanged, mnuDelete,
            [this, mnuDelete] { mnuDelete->setEnabled(core_.state.hasSelection()); });
}

void ElementCommands::mnuAdd_Click()
{
    if (waiting_ || core_.busy())
        return;
    const std::optional<QString> address =
        notices_.askText(QStringLiteral("Manual add"),
                         QStringLiteral("IP address of the Network Element to add to the local database:"));
    if (!address || !core_.startManualAdd(address->trimmed()))
        return;
    // The same wait as a discovery's, ended by the answer or by the window running out.
    FrmPaging window;
    waiting_ = &window;
    connect(&core_.manualAdd, &ManualAdd::added, &window, &FrmPaging::endPaging);
    connect(&core_.manualAdd, &ManualAdd::unanswered, &window, &FrmPaging::endPaging);
    Q_EMIT addStarted();
    window.exec();
    waiting_ = nullptr;
}

void ElementCommands::mnuDelete_Click()
{
    if (!core_.state.hasSelection())
        return;
    const ElementRecord& record = core_.state.selected();
    const bool yes = notices_.ask(QStringLiteral("Delete element"),
                                  QStringLiteral("The Network Element %1 [%2] will be deleted from the local "
                                                 "database in your computer.")
                                          .arg(record.name, core_.state.selectedMacText())
                                      + QStringLiteral("\rAre you sure?"));
    if (!yes)
        return;
    core_.deleteSelected();
}

} // namespace nms
