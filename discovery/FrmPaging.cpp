#include "discovery/FrmPaging.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>

#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

namespace {

const QChar CR(u'\r');

} // namespace

FrmPaging::FrmPaging(FrmMain& window)
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint), w(window)
{
    setObjectName(QStringLiteral("frmPaging"));
    setWindowTitle(QStringLiteral("Paging network..."));
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(312, 54);
    setSizeGripEnabled(false);

    Label1 = new QLabel(QStringLiteral("Please wait a few seconds while paging the network..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(palette);
    // 256 wide as drawn; a wider dialog font wraps onto a second line rather than being cut.
    Label1->setWordWrap(true);
    Label1->setGeometry(24, 16, 256, 30);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Timer1 = new QTimer(this);
    Timer1->setInterval(PagingMs);
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &FrmPaging::Timer1_Timer);
}

bool FrmPaging::recreateDatabase()
{
    const QString path = w.databasePath();
    QFile file(path);
    if (file.exists() && !file.remove()) {
        w.messages().error(
            QStringLiteral("Auto Discovery"),
            QStringLiteral("The local database (%1) could not be deleted: %2.").arg(path, file.errorString()) + CR
                + QStringLiteral("The network was not paged."));
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        w.messages().error(
            QStringLiteral("Auto Discovery"),
            QStringLiteral("The local database (%1) could not be created: %2.").arg(path, file.errorString()) + CR
                + QStringLiteral("The network was not paged."));
        return false;
    }
    file.close();
    return true;
}

bool FrmPaging::Form_Load()
{
    {
        // Emptying the list is not the operator's pick.
        const QSignalBlocker blocker(w.lstElements);
        w.lstHidden.clear();
        w.lstElements->clear();
    }
    w.lblElementsList->setCaption(QStringLiteral("Select element: (%1 items)").arg(w.lstElements->count()));

    if (!recreateDatabase()) {
        // Nothing was aimed or flagged yet; the list shows what the file still holds.
        ended_ = true;
        w.Load_Config();
        return false;
    }

    savedHost_ = w.link->remoteHost();
    savedPort_ = w.link->remotePort();
    w.link->setRemote(w.environment().pagingAddress, w.environment().pagingPort);

    Timer1->start();
    w.AutoDiscoverAwaiting = true;
    QString failure;
    if (!w.link->SendToRemote(PagingRequest(), &failure)) {
        Timer1->stop();
        w.link->setRemote(savedHost_, savedPort_);
        w.AutoDiscoverAwaiting = false;
        ended_ = true;
        w.messages().error(QStringLiteral("Auto Discovery"),
                           QStringLiteral("The paging request to %1 port %2 could not be sent: %3.")
                                   .arg(w.environment().pagingAddress)
                                   .arg(w.environment().pagingPort)
                                   .arg(failure)
                               + CR + QStringLiteral("No element was asked to answer."));
        w.Load_Config();
        return false;
    }
    return true;
}

void FrmPaging::endPaging()
{
    Timer1->stop();
    w.link->setRemote(savedHost_, savedPort_);
    w.AutoDiscoverAwaiting = false;
    ended_ = true;
}

void FrmPaging::Timer1_Timer()
{
    if (ended_)
        return;
    endPaging();
    w.Load_Config();
    accept();
}

void FrmPaging::reject()
{
    // Escape and the like: paging ends only through its timer.
    if (ended_)
        QDialog::reject();
}

void FrmPaging::closeEvent(QCloseEvent* event)
{
    if (!ended_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace nms
