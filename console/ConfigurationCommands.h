#pragma once
// The window's pop-up menu commands that carry a configuration from one unit to another: Save
// configuration as (the selected element's stored record to a file) and Apply configuration from
// (a kept or saved configuration into the editor, for the operator to check and Save).

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QWidget;

namespace nms {

class ApplyConfigurationDialog;
class AudioPanel;
class ConsoleCore;
class EditorPanel;
class NoticePresenter;
struct ElementRecord;

class ConfigurationCommands : public QObject {
    Q_OBJECT
public:
    // Both are offered only while an element is shown. `window` is the dialogs' parent.
    ConfigurationCommands(ConsoleCore& core, NoticePresenter& notices, EditorPanel& editor, AudioPanel& audio,
                          QAction* mnuSaveAs, QAction* mnuApply, QWidget* window, QObject* parent = nullptr);

    void mnuSaveAs_Click();
    void mnuApply_Click();

    // The file pickers; empty when the operator cancels. Tests put their own paths here.
    std::function<QString(const QString& suggested)> pickSavePath;
    std::function<QString()> pickOpenPath;

Q_SIGNALS:
    // The dialog is about to be run.
    void applyDialogOpened(ApplyConfigurationDialog* dialog);

private:
    void applyFile(const QString& path);
    void apply(const ElementRecord& kept);

    ConsoleCore& core_;
    NoticePresenter& notices_;
    EditorPanel& editor_;
    AudioPanel& audio_;
    QWidget* window_;
};

} // namespace nms
