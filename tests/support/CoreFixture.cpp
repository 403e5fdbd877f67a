#include "support/CoreFixture.h"

#include "database/ProfileStore.h"

namespace nms::test {

QList<AttachedNetwork> LoopbackNetworks()
{
    AttachedNetwork loopback;
    loopback.interfaceName = QStringLiteral("loopback");
    loopback.address = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
    loopback.netmask = 0xFF000000u;
    return {loopback};
}

std::unique_ptr<LoopbackElement> LoopbackLan(LinkPorts& ports, QHostAddress& pagingAddress, FixedNetworks& networks)
{
    auto element = std::make_unique<LoopbackElement>();
    ports = {FreeUdpPort(), element->configPort(), element->commandPort(), element->pagingPort()};
    pagingAddress = QHostAddress::LocalHost;
    networks.set(LoopbackNetworks());
    return element;
}

CoreFixture::CoreFixture(const CoreOptions& options)
{
    environment_.databasePath = options.databasePath.isEmpty() ? dir_.database() : options.databasePath;
    environment_.timing = options.timing;
    environment_.notices = &notices;
    environment_.echo = options.echo;
    environment_.sweep = options.sweep;
    environment_.watch = options.watch.has_value();
    if (options.watch)
        environment_.monitorSettings = *options.watch;
    environment_.transportFactory = options.transportFactory;
    environment_.neighbours = options.neighbours ? options.neighbours : &neighbours;
    environment_.notifySettingsPath = options.notifySettingsPath;
    environment_.notifyTiming = options.notifyTiming;
    if (options.productPorts) {
        systemNetworks_ = std::make_unique<SystemNetworks>();
        environment_.networks = systemNetworks_.get();
    } else {
        elementOwner_ = LoopbackLan(environment_.ports, environment_.pagingAddress, networks);
        element = elementOwner_.get();
        environment_.networks = &networks;
    }
    core_ = std::make_unique<ConsoleCore>(environment_);
}

CoreFixture::~CoreFixture()
{
    core_.reset();
}

bool CoreFixture::writeElement(const QString& key, const StoredElement& element)
{
    return WriteIniEntries(key, element.entries(), environment_.databasePath);
}

} // namespace nms::test
