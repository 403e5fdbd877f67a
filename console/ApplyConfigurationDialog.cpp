#include "console/ApplyConfigurationDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace nms {

ApplyConfigurationDialog::ApplyConfigurationDialog(const QList<KeptConfiguration>& kept,
                                                   std::function<QString()> pickFile, QWidget* parent)
    : QDialog(parent), pickFile_(std::move(pickFile))
{
    setObjectName(QStringLiteral("dlgApplyConfiguration"));
    setWindowTitle(QStringLiteral("Apply configuration"));
    setModal(true);

    auto* label = new QLabel(QStringLiteral("Configuration to fill in for the selected Network Element "
                                            "(nothing is sent before Save):"),
                             this);
    lstKept = new QTreeWidget(this);
    lstKept->setRootIsDecorated(false);
    lstKept->setSelectionMode(QAbstractItemView::SingleSelection);
    lstKept->setHeaderLabels({QStringLiteral("Element"), QStringLiteral("Role"), QStringLiteral("Last seen")});
    for (const KeptConfiguration& k : kept) {
        auto* item = new QTreeWidgetItem(lstKept);
        item->setText(0, KeptConfigurationCaption(k));
        item->setText(1, RoleCaption(RoleFromStored(k.record.role)));
        item->setText(2, k.lastSeen.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
    lstKept->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* buttons = new QDialogButtonBox(this);
    cmdFromFile = buttons->addButton(QStringLiteral("From &file..."), QDialogButtonBox::ActionRole);
    cmdOk = buttons->addButton(QDialogButtonBox::Ok);
    cmdCancel = buttons->addButton(QDialogButtonBox::Cancel);
    cmdOk->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(lstKept);
    layout->addWidget(buttons);
    resize(560, 320);

    connect(lstKept, &QTreeWidget::itemSelectionChanged, this,
            [this] { cmdOk->setEnabled(!lstKept->selectedItems().isEmpty()); });
    connect(lstKept, &QTreeWidget::itemDoubleClicked, this, &ApplyConfigurationDialog::cmdOk_Click);
    connect(cmdFromFile, &QPushButton::clicked, this, &ApplyConfigurationDialog::cmdFromFile_Click);
    connect(cmdOk, &QPushButton::clicked, this, &ApplyConfigurationDialog::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ApplyConfigurationDialog::cmdFromFile_Click()
{
    // A cancelled file choice leaves the list open.
    const QString path = pickFile_ ? pickFile_() : QString();
    if (path.isEmpty())
        return;
    chosenRow_.reset();
    chosenFile_ = path;
    accept();
}

void ApplyConfigurationDialog::cmdOk_Click()
{
    const QList<QTreeWidgetItem*> selected = lstKept->selectedItems();
    if (selected.isEmpty())
        return;
    chosenRow_ = lstKept->indexOfTopLevelItem(selected.first());
    chosenFile_.clear();
    accept();
}

} // namespace nms
