#include "console/FrmPaging.h"

#include <QCloseEvent>
#include <QLabel>

namespace nms {

FrmPaging::FrmPaging() : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
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
}

void FrmPaging::endPaging()
{
    ended_ = true;
    accept();
}

void FrmPaging::reject()
{
    // Escape and the like: paging ends only when the discovery does.
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
