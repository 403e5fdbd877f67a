#pragma once
// The configuration editor: live checks of the address boxes, the upper-cased name, the panel
// layout by role and TX type, and the save command that sends the edited configuration to the
// selected element. Nothing is stored here: the element's answer decides what is stored.

#include <QColor>
#include <QObject>

class QLineEdit;

namespace nms {

class FrmMain;
struct ConfigFields;

class ConfigEditor : public QObject {
    Q_OBJECT
public:
    explicit ConfigEditor(FrmMain& window);

    void cmdSave_Click();
    // Builds the ConfigWrite from the editor and sends it to the stored address of the selected
    // element, starting the answer timeout. False when the link could not send it.
    bool Send_Config();

    void txtElementIP_Change();
    void txtElementMask_Change();
    void txtElementGW_Change();
    void txtRemoteIP_Change();
    void txtElementName_LostFocus();
    void lblElementType_Change(const QString& caption);
    void cmbAudioTX_Click();

    // The editor's values as the ConfigWrite carries them.
    ConfigFields EditorFields() const;

    // Background of an address box: the system's colour behind text for an empty or valid
    // address, light red for anything else.
    static QColor WindowBackgroundColour();
    static QColor InvalidAddressColour() { return QColor(255, 128, 128); }
    static QColor AddressBoxColour(const QLineEdit* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void CheckAddressBox(QLineEdit* box);
    void refuseSave(const QString& reason);

    FrmMain& w;
};

} // namespace nms
