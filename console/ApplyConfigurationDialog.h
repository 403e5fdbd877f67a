#pragma once
// The choice of a configuration for the element shown: those kept of every element ever seen,
// the one seen last first, or one from a file. It only chooses; the command that opened it
// reads the file and fills the editor.

#include <QDialog>
#include <QList>

#include <functional>
#include <optional>

#include "session/KeptConfigurations.h"

class QPushButton;
class QTreeWidget;

namespace nms {

class ApplyConfigurationDialog : public QDialog {
    Q_OBJECT
public:
    // `pickFile` asks for the file to read; empty when the operator cancels.
    ApplyConfigurationDialog(const QList<KeptConfiguration>& kept, std::function<QString()> pickFile,
                             QWidget* parent = nullptr);

    // After exec(): the position in `kept` of the configuration chosen, or the file chosen.
    std::optional<int> chosenRow() const { return chosenRow_; }
    const QString& chosenFile() const { return chosenFile_; }

    QTreeWidget* lstKept;
    QPushButton* cmdFromFile;
    QPushButton* cmdOk;
    QPushButton* cmdCancel;

    void cmdFromFile_Click();
    void cmdOk_Click();

private:
    std::function<QString()> pickFile_;
    std::optional<int> chosenRow_;
    QString chosenFile_;
};

} // namespace nms
