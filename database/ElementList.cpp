#include "database/ElementList.h"

#include <QFileInfo>
#include <QSignalBlocker>

#include "console/ElementSelection.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

ElementList::ElementList(FrmMain& window) : QObject(&window), w(window)
{
}

QString ElementList::DisplayText(const QString& name, const QString& key)
{
    return name + QStringLiteral(" [") + KeyToMacText(key) + QStringLiteral("]");
}

void ElementList::updateCountCaption()
{
    w.lblElementsList->setCaption(QStringLiteral("Select element: (%1 items)").arg(w.lstElements->count()));
}

void ElementList::Load_Config()
{
    // A run started from inside this one (a datagram handled while a box below is open) rebuilds
    // the lists itself; the outer run then must not go on with a list it no longer describes.
    const int generation = ++generation_;
    {
        // Programmatic changes of the list are not the operator's picks.
        const QSignalBlocker blocker(w.lstElements);
        w.lstHidden.clear();
        w.lstElements->clear();
    }
    updateCountCaption();

    const QString path = w.databasePath();
    bool empty = false;
    if (!QFileInfo::exists(path)) {
        w.messages().notice(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."));
        empty = true;
    } else {
        // Keys and names from one read of the file: a read per element made the reload of a
        // thousand elements parse the file a thousand times.
        QStringList keys, names;
        LoadIniSectionsWithValues(keys, names, QStringLiteral("name"), path, QString());
        if (keys.isEmpty()) {
            w.messages().notice(
                QStringLiteral("Information"),
                QStringLiteral(
                    "Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network."));
            empty = true;
        } else {
            QStringList texts;
            texts.reserve(keys.size());
            for (qsizetype i = 0; i < keys.size(); ++i)
                texts.append(DisplayText(names.at(i), keys.at(i)));
            const QSignalBlocker blocker(w.lstElements);
            w.lstHidden = keys;
            w.lstElements->addItems(texts);
            w.lstElements->setCurrentIndex(-1);
        }
    }
    if (generation != generation_)
        return;
    updateCountCaption();
    if (empty)
        return;

    // Reselection: the first entry whose text contains the MAC text shown before.
    const QString shown = w.lblElementMAC->caption();
    if (shown == QStringLiteral("<Unknown>") || w.lstElements->count() == 0)
        return;
    for (int i = 0; i < w.lstElements->count(); ++i) {
        if (w.lstElements->itemText(i).contains(shown, Qt::CaseSensitive)) {
            {
                const QSignalBlocker blocker(w.lstElements);
                w.lstElements->setCurrentIndex(i);
            }
            w.selection->lstElements_Click();
            return;
        }
    }
}

} // namespace nms
