#include "console/ElementSelection.h"

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "diagnostics/EchoProbe.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

ElementSelection::ElementSelection(FrmMain& window) : QObject(&window), w(window)
{
    // activated: every pick by the operator, by mouse or keyboard, also of the entry already shown.
    connect(w.lstElements, &QComboBox::activated, this, &ElementSelection::lstElements_Click);
}

int ElementSelection::StoredListIndex(const QString& stored, int count)
{
    bool ok = false;
    const int value = stored.toInt(&ok);
    return ok && value >= 0 && value < count ? value : -1;
}

void ElementSelection::lstElements_Click()
{
    w.shpPing->setFillColor(QColor(255, 255, 192));

    const int index = w.lstElements->currentIndex();
    if (index < 0 || w.lstElements->itemText(index).isEmpty() || index >= w.lstHidden.size())
        return;

    const QString key = w.lstHidden.at(index);
    const QString path = w.databasePath();
    if (GetSectionKeyCount(key, path) >= 12) {
        w.messages().error(ProgramTitle(),
                           QStringLiteral("The data stored in your computer about this element, is corrupted (1).\r"
                                          "Cannot load this element info."));
        return;
    }
    auto read = [&](const char* entry) { return ReadFromINI(key, QLatin1String(entry), path, QString()); };

    w.txtElementName->setText(read("name"));
    w.txtElementIP->setText(read("ip"));
    w.txtElementMask->setText(read("mask"));
    w.txtElementGW->setText(read("gw"));
    w.txtRemoteIP->setText(read("remote"));

    w.cmbAudioInput->setCurrentIndex(StoredListIndex(read("input"), w.cmbAudioInput->count()));
    w.cmbAudioType->setCurrentIndex(StoredListIndex(read("type"), w.cmbAudioType->count()));
    w.cmbAudioTX->setCurrentIndex(StoredListIndex(read("tx"), w.cmbAudioTX->count()));

    bool roleOk = false;
    const int role = read("role").toInt(&roleOk);
    if (roleOk && role == 1) {
        w.lblElementType->setCaption(QStringLiteral("ENCODER"));
    } else if (roleOk && role == 2) {
        w.lblElementType->setCaption(QStringLiteral("DECODER"));
        // A missing, non-numeric or out-of-range attenuation leaves the slider where it is.
        bool attOk = false;
        const int att = read("att").toInt(&attOk);
        if (attOk && att >= w.scrlAtten->minimum() && att <= w.scrlAtten->maximum())
            w.scrlAtten->setValue(att);
    } else {
        w.lblElementType->setCaption(QStringLiteral("UNKNOWN"));
    }

    w.lblElementMAC->setCaption(KeyToMacText(key));
    w.lblSerialNumber->setCaption(read("sn"));
    w.probe->PingElement(w.txtElementIP->text());
}

} // namespace nms
