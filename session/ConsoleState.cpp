#include "session/ConsoleState.h"

#include "database/ElementRecords.h"

namespace nms {

QString RoleCaption(ElementRole role)
{
    switch (role) {
    case ElementRole::None: return QStringLiteral("<Unknown>");
    case ElementRole::Unknown: return QStringLiteral("UNKNOWN");
    case ElementRole::Encoder: return QStringLiteral("ENCODER");
    case ElementRole::Decoder: return QStringLiteral("DECODER");
    }
    return QString();
}

ElementRole RoleFromStored(const QString& stored)
{
    const QString word = StoredRoleWord(stored);
    return word == QLatin1String("encoder") ? ElementRole::Encoder
        : word == QLatin1String("decoder")  ? ElementRole::Decoder
                                            : ElementRole::Unknown;
}

QStringList AudioInputChoices()
{
    return {QStringLiteral("Digital"), QStringLiteral("Analog")};
}

QStringList AudioTypeChoices()
{
    return {QStringLiteral("Left/Right"), QStringLiteral("MPX")};
}

QStringList AudioTxChoices()
{
    return {QStringLiteral("Unicast"), QStringLiteral("Multicast")};
}

int StoredListIndex(const QString& stored, int count)
{
    bool ok = false;
    const int value = stored.toInt(&ok);
    return ok && value >= 0 && value < count ? value : -1;
}

ConfigFields StoredConfigFields(const ElementRecord& record)
{
    ConfigFields fields;
    fields.name = record.name;
    fields.ip = record.ip;
    fields.mask = record.mask;
    fields.gw = record.gw;
    fields.remote = record.remote;
    fields.input = StoredListIndex(record.input, AudioChoiceCount);
    fields.type = StoredListIndex(record.type, AudioChoiceCount);
    fields.tx = StoredListIndex(record.tx, AudioChoiceCount);
    return fields;
}

const ElementRecord& ConsoleState::selected() const
{
    static const ElementRecord none;
    return selected_ ? *selected_ : none;
}

QString ConsoleState::selectedMacText() const
{
    return selected_ ? KeyToMacText(selected_->key) : QString();
}

ElementRole ConsoleState::role() const
{
    return selected_ ? RoleFromStored(selected_->role) : ElementRole::None;
}

void ConsoleState::select(const ElementRecord& record)
{
    const bool sameElement = selected_ && selected_->key == record.key;
    const ElementRole before = role();
    // A reload of the same element keeps what was sent to it: its answer may still be on the way.
    if (!sameElement)
        lastSent_.reset();
    selected_ = record;
    Q_EMIT selectionChanged();
    if (!sameElement || role() != before)
        Q_EMIT elementChanged();
}

void ConsoleState::clearSelection()
{
    const bool had = selected_.has_value();
    selected_.reset();
    lastSent_.reset();
    Q_EMIT selectionChanged();
    if (had)
        Q_EMIT elementChanged();
}

void ConsoleState::setDiscovering(bool discovering)
{
    if (discovering_ == discovering)
        return;
    discovering_ = discovering;
    Q_EMIT discoveringChanged(discovering);
}

} // namespace nms
