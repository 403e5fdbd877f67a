#include "console/EditorPanel.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>

#include "app/ConsoleCore.h"
#include "base/AddressText.h"
#include "console/Controls.h"
#include "database/ElementRecords.h"
#include "link/Datagrams.h"
#include "notices/NoticePresenter.h"
#include "session/ConfigChecks.h"

namespace nms {

EditorPanel::EditorPanel(const EditorControls& controls, ConsoleCore& core, NoticePresenter& notices, QObject* parent)
    : QObject(parent), c_(controls), core_(core), notices_(notices)
{
    // textChanged: every change of the text, typed or set by the program.
    for (QLineEdit* box : {c_.txtElementIP, c_.txtElementMask, c_.txtElementGW, c_.txtRemoteIP}) {
        connect(box, &QLineEdit::textChanged, this, [box] { CheckAddressBox(box); });
        CheckAddressBox(box);
    }
    c_.txtElementName->installEventFilter(this);
    connect(c_.cmbAudioTX, &QComboBox::currentIndexChanged, this, &EditorPanel::cmbAudioTX_Click);
    connect(c_.cmdSave, &QPushButton::clicked, this, &EditorPanel::cmdSave_Click);
    connect(&core_.state, &ConsoleState::selectionChanged, this, &EditorPanel::showSelection);
}

QColor EditorPanel::WindowBackgroundColour()
{
    // The desktop's colour behind editable text (what a text box shows when nothing is wrong).
    return QApplication::palette("QLineEdit").color(QPalette::Active, QPalette::Base);
}

QColor EditorPanel::AddressBoxColour(const QLineEdit* box)
{
    return box->palette().color(QPalette::Active, QPalette::Base);
}

void EditorPanel::CheckAddressBox(QLineEdit* box)
{
    const QString text = box->text();
    const QColor colour = text.isEmpty() || IsDottedQuad(text) ? WindowBackgroundColour() : InvalidAddressColour();
    QPalette palette = box->palette();
    // Every colour group, so the box keeps its colour when the window is not the active one.
    palette.setColor(QPalette::Base, colour);
    box->setPalette(palette);
}

bool EditorPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the window is being destroyed its children still send events here,
    // and the window's members must not be touched then.
    if (event->type() == QEvent::FocusOut && watched == c_.txtElementName) {
        // Focus moving to another control of the console, not the desktop switching windows
        // or a pop-up (the box's own context menu) opening over it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtElementName_LostFocus();
    }
    return QObject::eventFilter(watched, event);
}

void EditorPanel::txtElementName_LostFocus()
{
    const QString upper = c_.txtElementName->text().toUpper();
    if (upper != c_.txtElementName->text())
        c_.txtElementName->setText(upper);
}

void EditorPanel::showSelection()
{
    const ConsoleState& state = core_.state;
    const ElementRecord& record = state.selected();
    // Nothing shown: the record is empty, so every box empties and every list loses its choice.
    c_.txtElementName->setText(record.name);
    c_.txtElementIP->setText(record.ip);
    c_.txtElementMask->setText(record.mask);
    c_.txtElementGW->setText(record.gw);
    c_.txtRemoteIP->setText(record.remote);
    c_.cmbAudioInput->setCurrentIndex(StoredListIndex(record.input, AudioChoiceCount));
    c_.cmbAudioType->setCurrentIndex(StoredListIndex(record.type, AudioChoiceCount));
    c_.cmbAudioTX->setCurrentIndex(StoredListIndex(record.tx, AudioChoiceCount));
    c_.lblElementType->setCaption(RoleCaption(state.role()));
    layOutForRole();
    c_.lblElementMAC->setCaption(state.hasSelection() ? state.selectedMacText() : QStringLiteral("<Unknown>"));
    c_.lblSerialNumber->setCaption(state.hasSelection() ? record.sn : QStringLiteral("<Unknown>"));
}

void EditorPanel::showConfiguration(const ConfigFields& fields)
{
    c_.txtElementName->setText(fields.name);
    c_.txtElementIP->setText(fields.ip);
    c_.txtElementMask->setText(fields.mask);
    c_.txtElementGW->setText(fields.gw);
    c_.txtRemoteIP->setText(fields.remote);
    c_.cmbAudioInput->setCurrentIndex(fields.input);
    c_.cmbAudioType->setCurrentIndex(fields.type);
    c_.cmbAudioTX->setCurrentIndex(fields.tx);
    layOutForRole();
}

void EditorPanel::layOutForRole()
{
    // A decoder has the attenuation where an encoder has its audio input, and no remote address.
    const bool decoder = core_.state.role() == ElementRole::Decoder;
    c_.txtRemoteIP->setVisible(!decoder && c_.cmbAudioTX->currentIndex() <= 0);
    c_.cmbAudioInput->setVisible(!decoder);
    c_.cmbAudioTX->setVisible(!decoder);
    c_.Label9->setCaption(decoder ? QStringLiteral("Audio atten:") : QStringLiteral("Audio source:"));
}

void EditorPanel::cmbAudioTX_Click()
{
    // A decoder has no remote address; an element of unknown role keeps what its layout chose.
    if (core_.state.role() != ElementRole::Encoder)
        return;
    c_.txtRemoteIP->setVisible(c_.cmbAudioTX->currentIndex() < 1);
}

void EditorPanel::refuseSave(const QString& reason)
{
    notices_.post({NoticeIcon::Error, QStringLiteral("Error!"), reason + QStringLiteral("\rCannot save.")});
}

void EditorPanel::cmdSave_Click()
{
    if (guarding_)
        return;
    const ConfigFields fields = EditorFields();
    const QString refusal = SaveRefusal(core_.state.hasSelection(), fields, core_.store.exists());
    if (!refusal.isEmpty()) {
        refuseSave(refusal);
        return;
    }
    // The address guard: at once, or after the network had its second, with a busy cursor and
    // the window answering meanwhile.
    if (const std::optional<QStringList> findings = core_.guardConfig(fields)) {
        confirmAndSend(fields, *findings);
        return;
    }
    guarding_ = true;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    QMetaObject::Connection* once = new QMetaObject::Connection;
    *once = connect(&core_.guard, &AddressGuard::finished, this, [this, fields, once](const QStringList& findings) {
        disconnect(*once);
        delete once;
        QGuiApplication::restoreOverrideCursor();
        guarding_ = false;
        confirmAndSend(fields, findings);
    });
}

void EditorPanel::confirmAndSend(const ConfigFields& fields, const QStringList& findings)
{
    if (!findings.isEmpty()) {
        const bool anyway =
            notices_.ask(QStringLiteral("Check configuration"),
                         findings.join(QLatin1Char('\r')) + QStringLiteral("\r\rSend anyway?"), MsgIcon::Warning);
        if (!anyway)
            return;
    }
    const bool yes = notices_.ask(QStringLiteral("Send configuration"),
                                  QStringLiteral("This configuration will be sent to selected Network Element and\r"
                                                 "will also be saved to local database in your computer. \r"
                                                 "Are you sure?"));
    // What was checked is what is sent, whatever was typed meanwhile.
    if (yes)
        core_.sendConfig(fields);
}

ConfigFields EditorPanel::EditorFields() const
{
    ConfigFields fields;
    fields.ip = c_.txtElementIP->text();
    fields.mask = c_.txtElementMask->text();
    fields.gw = c_.txtElementGW->text();
    fields.remote = c_.txtRemoteIP->text();
    fields.input = c_.cmbAudioInput->currentIndex();
    fields.type = c_.cmbAudioType->currentIndex();
    fields.tx = c_.cmbAudioTX->currentIndex();
    fields.name = c_.txtElementName->text();
    return fields;
}

bool EditorPanel::Send_Config()
{
    // The answer is checked against exactly what went out, whatever the operator types meanwhile.
    return core_.sendConfig(EditorFields());
}

} // namespace nms
