#include "console/ConfigurationCommands.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>

#include "app/ConsoleCore.h"
#include "base/ProgramInfo.h"
#include "console/ApplyConfigurationDialog.h"
#include "console/AudioPanel.h"
#include "console/EditorPanel.h"
#include "notices/NoticePresenter.h"
#include "session/KeptConfigurations.h"
#include "session/SavedConfiguration.h"

namespace nms {

namespace {

const QString kFilter = QStringLiteral("Element configurations (*.json);;All files (*)");

} // namespace

ConfigurationCommands::ConfigurationCommands(ConsoleCore& core, NoticePresenter& notices, EditorPanel& editor,
                                             AudioPanel& audio, QAction* mnuSaveAs, QAction* mnuApply, QWidget* window,
                                             QObject* parent)
    : QObject(parent), core_(core), notices_(notices), editor_(editor), audio_(audio), window_(window)
{
    pickSavePath = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(window_, QStringLiteral("Save configuration as"),
                                            QDir::home().filePath(suggested), kFilter);
    };
    pickOpenPath = [this] {
        return QFileDialog::getOpenFileName(window_, QStringLiteral("Apply configuration from"), QDir::homePath(),
                                            kFilter);
    };
    connect(mnuSaveAs, &QAction::triggered, this, &ConfigurationCommands::mnuSaveAs_Click);
    connect(mnuApply, &QAction::triggered, this, &ConfigurationCommands::mnuApply_Click);
    auto offer = [this, mnuSaveAs, mnuApply] {
        mnuSaveAs->setEnabled(core_.state.hasSelection());
        mnuApply->setEnabled(core_.state.hasSelection());
    };
    offer();
    connect(&core_.state, &ConsoleState::selectionChanged, this, offer);
}

void ConfigurationCommands::mnuSaveAs_Click()
{
    if (!core_.state.hasSelection())
        return;
    // What the database holds now, not what the editor shows.
    const ElementRecord record = core_.store.read(core_.state.selectedKey());
    QString path = pickSavePath(ConfigurationFileName(record));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    QString error;
    if (!SaveConfigurationFile(path, record, VersionText(), &error))
        notices_.error(QStringLiteral("Save configuration"),
                       QStringLiteral("The configuration could not be saved to %1:\r%2").arg(path, error));
}

void ConfigurationCommands::mnuApply_Click()
{
    if (!core_.state.hasSelection())
        return;
    const QString key = core_.state.selectedKey();
    const QList<KeptConfiguration> kept = KeptConfigurations(core_.history.entries(), core_.elements().keys);
    ApplyConfigurationDialog dialog(kept, pickOpenPath, window_);
    Q_EMIT applyDialogOpened(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Another element shown meanwhile (a discovery, a pick in the status window): not this one's.
    if (core_.state.selectedKey() != key)
        return;
    if (dialog.chosenRow())
        apply(kept.at(*dialog.chosenRow()).record);
    else if (!dialog.chosenFile().isEmpty())
        applyFile(dialog.chosenFile());
}

void ConfigurationCommands::applyFile(const QString& path)
{
    QString error;
    const std::optional<SavedConfiguration> saved = LoadConfigurationFile(path, &error);
    if (!saved) {
        notices_.error(QStringLiteral("Apply configuration"),
                       QStringLiteral("%1 cannot be applied:\r%2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    apply(saved->record);
}

void ConfigurationCommands::apply(const ElementRecord& kept)
{
    const ElementRole shown = core_.state.role();
    if (const std::optional<QString> question = RoleMismatchQuestion(kept, shown)) {
        if (!notices_.ask(QStringLiteral("Apply configuration"), *question))
            return;
    }
    const ConfigurationFill fill = FillFromRecord(kept, shown);
    editor_.showConfiguration(fill.fields);
    if (fill.attenuation)
        audio_.showAttenuation(*fill.attenuation);
}

} // namespace nms
