#include "console/ConfigEditor.h"

#include <QApplication>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLineEdit>

#include "database/Conversions.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

namespace {

const QString Decoder = QStringLiteral("DECODER");
const QString Encoder = QStringLiteral("ENCODER");

} // namespace

ConfigEditor::ConfigEditor(FrmMain& window) : QObject(&window), w(window)
{
    // textChanged: every change of the text, typed or set by the program.
    connect(w.txtElementIP, &QLineEdit::textChanged, this, &ConfigEditor::txtElementIP_Change);
    connect(w.txtElementMask, &QLineEdit::textChanged, this, &ConfigEditor::txtElementMask_Change);
    connect(w.txtElementGW, &QLineEdit::textChanged, this, &ConfigEditor::txtElementGW_Change);
    connect(w.txtRemoteIP, &QLineEdit::textChanged, this, &ConfigEditor::txtRemoteIP_Change);
    w.txtElementName->installEventFilter(this);
    connect(w.lblElementType, &Label::captionChanged, this, &ConfigEditor::lblElementType_Change);
    connect(w.cmbAudioTX, &QComboBox::currentIndexChanged, this, &ConfigEditor::cmbAudioTX_Click);
    connect(w.cmdSave, &QPushButton::clicked, this, &ConfigEditor::cmdSave_Click);

    for (QLineEdit* box : {w.txtElementIP, w.txtElementMask, w.txtElementGW, w.txtRemoteIP})
        CheckAddressBox(box);
}

QColor ConfigEditor::WindowBackgroundColour()
{
    // The desktop's colour behind editable text (what a text box shows when nothing is wrong).
    return QApplication::palette("QLineEdit").color(QPalette::Active, QPalette::Base);
}

QColor ConfigEditor::AddressBoxColour(const QLineEdit* box)
{
    return box->palette().color(QPalette::Active, QPalette::Base);
}

void ConfigEditor::CheckAddressBox(QLineEdit* box)
{
    const QString text = box->text();
    const QColor colour = text.isEmpty() || IsDottedQuad(text) ? WindowBackgroundColour() : InvalidAddressColour();
    QPalette palette = box->palette();
    // Every colour group, so the box keeps its colour when the window is not the active one.
    palette.setColor(QPalette::Base, colour);
    box->setPalette(palette);
}

void ConfigEditor::txtElementIP_Change()
{
    CheckAddressBox(w.txtElementIP);
}

void ConfigEditor::txtElementMask_Change()
{
    CheckAddressBox(w.txtElementMask);
}

void ConfigEditor::txtElementGW_Change()
{
    CheckAddressBox(w.txtElementGW);
}

void ConfigEditor::txtRemoteIP_Change()
{
    CheckAddressBox(w.txtRemoteIP);
}

bool ConfigEditor::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the window is being destroyed its children still send events here,
    // and the window's members must not be touched then.
    if (event->type() == QEvent::FocusOut && watched == w.txtElementName) {
        // Focus moving to another control of the console, not the desktop switching windows
        // or a pop-up (the box's own context menu) opening over it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtElementName_LostFocus();
    }
    return QObject::eventFilter(watched, event);
}

void ConfigEditor::txtElementName_LostFocus()
{
    const QString upper = w.txtElementName->text().toUpper();
    if (upper != w.txtElementName->text())
        w.txtElementName->setText(upper);
}

void ConfigEditor::lblElementType_Change(const QString& caption)
{
    // Row by row as the panel is laid out; the level caption is set last.
    const bool decoder = caption == Decoder;
    w.txtRemoteIP->setVisible(!decoder);
    if (!decoder && w.cmbAudioTX->currentIndex() > 0)
        w.txtRemoteIP->hide();
    w.cmbAudioInput->setVisible(!decoder);
    w.cmbAudioTX->setVisible(!decoder);
    w.scrlAtten->setVisible(decoder);
    w.lblAttenDB->setVisible(decoder);
    w.Label9->setCaption(decoder ? QStringLiteral("Audio atten:") : QStringLiteral("Audio source:"));
    w.tmrVolume->stop();
    w.chkGetVolume->setChecked(false);
    w.chkGetVolume->hide();
    w.imgPlay->setVisible(!decoder);
    w.imgStop->hide();
    w.VUMeter->setVisible(!decoder);
    w.VUMeter->setBarWidth(0);
    w.lblVolume->setVisible(!decoder);
    w.lblVolume->setCaption(QStringLiteral("---"));
}

void ConfigEditor::cmbAudioTX_Click()
{
    // A decoder has no remote address; an element of unknown role keeps what its layout chose.
    if (w.lblElementType->caption() != Encoder)
        return;
    w.txtRemoteIP->setVisible(w.cmbAudioTX->currentIndex() < 1);
}

void ConfigEditor::refuseSave(const QString& reason)
{
    w.messages().error(QStringLiteral("Error!"), reason + QStringLiteral("\rCannot save."));
}

void ConfigEditor::cmdSave_Click()
{
    if (w.lblElementMAC->caption() == QStringLiteral("<Unknown>")) {
        refuseSave(QStringLiteral("No Network Element selected!"));
        return;
    }
    if (w.cmbAudioInput->currentIndex() < 0 || w.cmbAudioType->currentIndex() < 0 || w.cmbAudioTX->currentIndex() < 0) {
        refuseSave(QStringLiteral("Please verify that all audio fields are correct!"));
        return;
    }
    if (w.txtElementName->text().isEmpty()) {
        refuseSave(QStringLiteral("Please verify that the name field is correct!"));
        return;
    }
    // The remote address is checked even when it is hidden: the element receives it anyway.
    bool addressesOk = true;
    for (const QLineEdit* box : {w.txtElementIP, w.txtElementMask, w.txtElementGW, w.txtRemoteIP})
        addressesOk = IsDottedQuad(box->text()) && addressesOk;
    if (!addressesOk) {
        refuseSave(QStringLiteral("Please verify that all IP fields are correct!"));
        return;
    }
    // The answer is stored in the database, so there must be one to store it in.
    if (!QFileInfo::exists(w.databasePath())) {
        refuseSave(QStringLiteral("The local database in your computer, is corrupted!"));
        return;
    }
    const bool yes = w.messages().ask(QStringLiteral("Send configuration"),
                                      QStringLiteral("This configuration will be sent to selected Network Element and\r"
                                                     "will also be saved to local database in your computer. \r"
                                                     "Are you sure?"));
    if (yes)
        Send_Config();
}

ConfigFields ConfigEditor::EditorFields() const
{
    ConfigFields fields;
    fields.ip = w.txtElementIP->text();
    fields.mask = w.txtElementMask->text();
    fields.gw = w.txtElementGW->text();
    fields.remote = w.txtRemoteIP->text();
    fields.input = w.cmbAudioInput->currentIndex();
    fields.type = w.cmbAudioType->currentIndex();
    fields.tx = w.cmbAudioTX->currentIndex();
    fields.name = w.txtElementName->text();
    return fields;
}

bool ConfigEditor::Send_Config()
{
    // Sent to the address stored for the selected element, which is the one it still has: the
    // address in the editor is what it is being asked to take.
    return w.link->SendToSelected(BuildConfigWrite(EditorFields()), w.environment().configPort, true);
}

} // namespace nms
