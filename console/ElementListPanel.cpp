#include "console/ElementListPanel.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "console/Controls.h"
#include "database/ElementRecords.h"
#include "services/Notices.h"
#include "session/ConsoleCore.h"

namespace nms {

ElementListPanel::ElementListPanel(const ElementListControls& controls, ConsoleCore& core, QObject* parent)
    : QObject(parent), c_(controls), core_(core)
{
    // activated: every pick by the operator, by mouse or keyboard, also of the entry already shown.
    connect(c_.lstElements, &QComboBox::activated, this, &ElementListPanel::lstElements_Click);
}

QString ElementListPanel::DisplayText(const QString& name, const QString& key)
{
    return name + QStringLiteral(" [") + KeyToMacText(key) + QStringLiteral("]");
}

void ElementListPanel::updateCountCaption()
{
    c_.lblElementsList->setCaption(QStringLiteral("Select element: (%1 items)").arg(c_.lstElements->count()));
}

void ElementListPanel::clear()
{
    // Emptying the list is not the operator's pick.
    const QSignalBlocker blocker(c_.lstElements);
    lstHidden_.clear();
    c_.lstElements->clear();
    updateCountCaption();
}

void ElementListPanel::Load_Config()
{
    clear();
    Notices& notices = *core_.environment().notices;
    const ElementStore::Listing listing = core_.store.list();
    if (!listing.fileExists) {
        notices.information(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."));
        return;
    }
    if (listing.keys.isEmpty()) {
        notices.information(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network."));
        return;
    }
    QStringList texts;
    texts.reserve(listing.keys.size());
    for (qsizetype i = 0; i < listing.keys.size(); ++i)
        texts.append(DisplayText(listing.names.at(i), listing.keys.at(i)));
    {
        const QSignalBlocker blocker(c_.lstElements);
        lstHidden_ = listing.keys;
        c_.lstElements->addItems(texts);
        c_.lstElements->setCurrentIndex(-1);
    }
    updateCountCaption();

    // Reselection: the first entry whose text contains the MAC text of the element shown before.
    if (!core_.state.hasSelection())
        return;
    const QString shown = core_.state.selectedMacText();
    for (int i = 0; i < c_.lstElements->count(); ++i) {
        if (c_.lstElements->itemText(i).contains(shown, Qt::CaseSensitive)) {
            {
                const QSignalBlocker blocker(c_.lstElements);
                c_.lstElements->setCurrentIndex(i);
            }
            lstElements_Click();
            return;
        }
    }
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
    if (index < 0 || c_.lstElements->itemText(index).isEmpty() || index >= lstHidden_.size()) {
        core_.probe.markNotProbed();
        return;
    }
    core_.selectElement(lstHidden_.at(index));
}

} // namespace nms
