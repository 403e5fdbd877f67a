#include "console/DiscoveryCommand.h"

#include "app/ConsoleCore.h"
#include "console/FrmPaging.h"
#include "notices/NoticePresenter.h"

namespace nms {

DiscoveryCommand::DiscoveryCommand(ConsoleCore& core, NoticePresenter& notices, QObject* parent)
    : QObject(parent), core_(core), notices_(notices)
{
}

void DiscoveryCommand::cmdDiscover_Click()
{
    mnuDiscover_Click();
}

void DiscoveryCommand::mnuDiscover_Click()
{
    // The modal paging window blocks the button, but not a call made from elsewhere meanwhile.
    if (paging_ || core_.busy())
        return;
    const QChar CR(u'\r');
    const bool yes =
        notices_.ask(QStringLiteral("Auto Discovery"),
                     QStringLiteral("Performing an 'Auto Discovery' will delete the local database in your computer")
                         + CR + QStringLiteral("and create a new one, based on the Network Elements found (if any). ")
                         + CR + QStringLiteral("Are you sure?"));
    if (!yes)
        return;

    FrmPaging window;
    paging_ = &window;
    if (Form_Load(window)) {
        Q_EMIT pagingStarted();
        window.exec();
    }
    paging_ = nullptr;
}

bool DiscoveryCommand::Form_Load(FrmPaging& window)
{
    // Refused: the operator has been told why, and the list shows what the file holds.
    if (!core_.startDiscovery())
        return false;
    connect(&core_.discovery, &DiscoverySession::finished, &window, &FrmPaging::endPaging);
    return true;
}

} // namespace nms
