#pragma once
// The configuration editor: the selected element's values in the boxes and lists, live checks of
// the address boxes, the upper-cased name, the layout by role and TX type, and the save command
// that sends the edited configuration. Nothing is stored here: the element's answer decides.

#include <QColor>
#include <QObject>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace nms {

class ConsoleCore;
class Label;
class NoticePresenter;
struct ConfigFields;

struct EditorControls {
    QLineEdit* txtElementName = nullptr;
    QLineEdit* txtElementIP = nullptr;
    QLineEdit* txtElementMask = nullptr;
    QLineEdit* txtElementGW = nullptr;
    QLineEdit* txtRemoteIP = nullptr;
    QComboBox* cmbAudioType = nullptr;
    QComboBox* cmbAudioInput = nullptr;
    QComboBox* cmbAudioTX = nullptr;
    Label* lblElementType = nullptr;
    Label* lblElementMAC = nullptr;
    Label* lblSerialNumber = nullptr;
    Label* Label9 = nullptr;
    QPushButton* cmdSave = nullptr;
};

class EditorPanel : public QObject {
    Q_OBJECT
public:
    EditorPanel(const EditorControls& controls, ConsoleCore& core, NoticePresenter& notices, QObject* parent = nullptr);

    void cmdSave_Click();
    // Builds the ConfigWrite from the editor and sends it to the stored address of the selected
    // element, starting the answer timeout. False when the link could not send it.
    bool Send_Config();
    // The editor's values as the ConfigWrite carries them.
    ConfigFields EditorFields() const;

    // A configuration chosen for the element shown, in the boxes and lists as if typed: its MAC
    // and serial stay, and nothing is sent before Save.
    void showConfiguration(const ConfigFields& fields);

    void txtElementName_LostFocus();
    void cmbAudioTX_Click();

    // Background of an address box: the system's colour behind text for an empty or valid
    // address, light red for anything else.
    static QColor WindowBackgroundColour();
    static QColor InvalidAddressColour() { return QColor(255, 128, 128); }
    static QColor AddressBoxColour(const QLineEdit* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The element shown (or nothing) in every control of the editor, then the role layout.
    void showSelection();
    void layOutForRole();
    static void CheckAddressBox(QLineEdit* box);
    void refuseSave(const QString& reason);
    void confirmAndSend(const ConfigFields& fields, const QStringList& findings);

    EditorControls c_;
    ConsoleCore& core_;
    NoticePresenter& notices_;
    bool guarding_ = false; // the address guard is waiting for the network
};

} // namespace nms
