#include "discovery/Discovery.h"

#include <QPushButton>

#include "discovery/FrmPaging.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

Discovery::Discovery(FrmMain& window) : QObject(&window), w(window)
{
    connect(w.cmdDiscover, &QPushButton::clicked, this, &Discovery::cmdDiscover_Click);
}

void Discovery::cmdDiscover_Click()
{
    mnuDiscover_Click();
}

void Discovery::mnuDiscover_Click()
{
    // The modal paging window blocks the button, but not a call made from elsewhere meanwhile.
    if (paging_)
        return;
    const QChar CR(u'\r');
    const bool yes = w.messages().ask(
        QStringLiteral("Auto Discovery"),
        QStringLiteral("Performing an 'Auto Discovery' will delete the local database in your computer") + CR
            + QStringLiteral("and create a new one, based on the Network Elements found (if any). ") + CR
            + QStringLiteral("Are you sure?"));
    if (!yes)
        return;

    w.ClearElementFields();
    FrmPaging window(w);
    paging_ = &window;
    if (window.Form_Load()) {
        Q_EMIT pagingStarted();
        window.exec();
    }
    paging_ = nullptr;
}

} // namespace nms
