#include "console/ElementListPanel.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "app/ConsoleCore.h"
#include "console/Controls.h"
#include "database/ElementRecords.h"

namespace nms {

ElementListPanel::ElementListPanel(const ElementListControls& controls, ConsoleCore& core, QObject* parent)
    : QObject(parent), c_(controls), core_(core)
{
    // activated: every pick by the operator, by mouse or keyboard, also of the entry already shown.
    connect(c_.lstElements, &QComboBox::activated, this, &ElementListPanel::lstElements_Click);
    connect(&core_, &ConsoleCore::elementsChanged, this, &ElementListPanel::showElements);
    connect(&core_.state, &ConsoleState::selectionChanged, this, &ElementListPanel::showSelection);
    showElements();
}

QString ElementListPanel::DisplayText(const QString& name, const QString& key)
{
    return name + QStringLiteral(" [") + KeyToMacText(key) + QStringLiteral("]");
}

void ElementListPanel::updateCountCaption()
{
    c_.lblElementsList->setCaption(QStringLiteral("Select element: (%1 items)").arg(lstHidden_.size()));
}

void ElementListPanel::showElements()
{
    const ElementStore::Listing& listing = core_.elements();
    QStringList texts;
    texts.reserve(listing.keys.size());
    for (qsizetype i = 0; i < listing.keys.size(); ++i)
        texts.append(DisplayText(listing.names.at(i), listing.keys.at(i)));
    {
        // Filling the list is not the operator's pick.
        const QSignalBlocker blocker(c_.lstElements);
        lstHidden_ = listing.keys;
        c_.lstElements->clear();
        c_.lstElements->addItems(texts);
        c_.lstElements->setCurrentIndex(-1);
    }
    updateCountCaption();
}

void ElementListPanel::showSelection()
{
    // The entry of the element shown, by its key. Showing nothing (Revert) leaves the entry picked.
    if (!core_.state.hasSelection())
        return;
    const int index = int(lstHidden_.indexOf(core_.state.selectedKey()));
    const QSignalBlocker blocker(c_.lstElements);
    c_.lstElements->setCurrentIndex(index);
}

bool ElementListPanel::pick(const QString& key)
{
    const int index = int(lstHidden_.indexOf(key));
    if (index < 0)
        return false;
    {
        const QSignalBlocker blocker(c_.lstElements);
        c_.lstElements->setCurrentIndex(index);
    }
    lstElements_Click();
    return true;
}

void ElementListPanel::lstElements_Click()
{
    const int index = c_.lstElements->currentIndex();
    if (index < 0 || index >= lstHidden_.size()) {
        core_.probe.markNotProbed();
        return;
    }
    core_.selectElement(lstHidden_.at(index));
}

} // namespace nms
