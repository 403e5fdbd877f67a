#include "support/ConsoleFixture.h"

#include "console/ElementListPanel.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "notices/NoticePresenter.h"
#include "support/CoreFixture.h"

namespace nms::test {

ConsoleFixture::ConsoleFixture(const ConsoleOptions& options)
{
    environment_.databasePath = options.databasePath.isEmpty() ? dir_.database() : options.databasePath;
    environment_.messages = &boxes;
    environment_.echo = options.echo;
    environment_.sweep = options.sweep;
    environment_.monitorSettings = options.monitorSettings;
    environment_.neighbours = options.neighbours ? options.neighbours : &neighbours;
    environment_.timing = options.timing;
    environment_.useTray = false;
    if (!options.productPorts) {
        elementOwner_ = LoopbackLan(environment_.ports, environment_.pagingAddress, networks);
        element = elementOwner_.get();
        environment_.networks = &networks;
    }
    window_ = std::make_unique<FrmMain>(environment_);
}

ConsoleFixture::~ConsoleFixture()
{
    window_.reset();
}

bool ConsoleFixture::load()
{
    return window_->Form_Load();
}

bool ConsoleFixture::writeElement(const QString& key, const StoredElement& element)
{
    return WriteIniEntries(key, element.entries(), environment_.databasePath);
}

bool ConsoleFixture::select(const QString& key)
{
    window_->Load_Config();
    const int index = int(window_->elementList->lstHidden().indexOf(key));
    if (index < 0)
        return false;
    window_->lstElements->setCurrentIndex(index);
    window_->elementList->lstElements_Click();
    return window_->core->state.selectedKey() == key;
}

void ConsoleFixture::showNotices()
{
    window_->notices->showAllNow();
}

} // namespace nms::test
