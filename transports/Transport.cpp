#include "transports/Transport.h"

#include "transports/EmailTransport.h"
#include "transports/ExecTransport.h"
#include "transports/NotifierGroup.h"
#include "transports/SnmpTrapTransport.h"
#include "transports/WebhookTransport.h"

namespace nms {

std::unique_ptr<Transport> MakeTransport(const QString& name, const QVariantMap& group, QString* error)
{
    NotifierGroup settings(name, group);
    const QString type = settings.text(QStringLiteral("type"), true);
    std::unique_ptr<Transport> transport;
    if (!settings.ok())
        ; // the reason says what
    else if (type == QLatin1String("email"))
        transport = EmailTransport::Create(settings);
    else if (type == QLatin1String("webhook"))
        transport = WebhookTransport::Create(settings);
    else if (type == QLatin1String("exec"))
        transport = ExecTransport::Create(settings);
    else if (type == QLatin1String("snmp-trap"))
        transport = SnmpTrapTransport::Create(settings);
    else
        settings.refuse(QStringLiteral("type"),
                        QStringLiteral("'%1' is not one of email, webhook, exec, snmp-trap").arg(type));
    if (error)
        *error = transport ? QString() : settings.error();
    return transport;
}

} // namespace nms
