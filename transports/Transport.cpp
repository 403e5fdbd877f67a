#include "transports/Transport.h"

namespace nms {

std::unique_ptr<Transport> MakeTransport(const QString& name, const QVariantMap& group, QString* error)
{
    const QString type = group.value(QStringLiteral("type")).toString().trimmed();
    if (error)
        *error = QStringLiteral("[notify.%1] type: unknown type '%2'").arg(name, type);
    return nullptr;
}

} // namespace nms
