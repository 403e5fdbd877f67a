// check: one element, as a monitoring plugin sees it. Its echo, its answer to a paging request
// compared with its stored record, and an encoder's audio are asked for at once; one line and
// the plugin's status come out within the time a monitoring system allows a check.

#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>
#include <QtEndian>

#include <functional>

#include <cmath>
#include <optional>

#include "app/PortOwner.h"
#include "audio/LevelMeter.h"
#include "base/AddressText.h"
#include "ctl/Commands.h"
#include "ctl/CtlOutput.h"
#include "ctl/CtlSession.h"
#include "database/ElementRecords.h"
#include "session/AnswerCollector.h"
#include "session/ConsoleState.h"
#include "session/FeedbackProcessor.h"

namespace nms {

namespace {

enum PluginStatus { PluginOk = 0, PluginWarning = 1, PluginCritical = 2, PluginUnknown = 3 };

// Monitoring systems give a check 10 s at most by default; every wait ends well before.
constexpr int kCheckDeadlineMs = 9000;
constexpr int kPagingWaitMs = 3000;
constexpr int kAudioWaitMs = 2000;
constexpr int kEchoWaitMs = 2000;

int Report(PluginStatus status, const QString& text, const QString& performance = {})
{
    static const char* const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    QString line = QStringLiteral("ORBILANE %1 - %2").arg(QLatin1String(words[status]), text);
    if (!performance.isEmpty())
        line += QStringLiteral(" | ") + performance;
    PrintOut(line + u'\n');
    return status;
}

// The answer of the element checked, taken before the feedback path would treat it as the
// answer to a configuration: a check stores nothing.
class PagingAnswer final : public AnswerCollector {
public:
    explicit PagingAnswer(const ElementRecord& record) : record_(record) { }
    bool collect(const ElementFeedback& feedback) override
    {
        if (MacTextToKey(feedback.ElementMAC) != record_.key && feedback.ElementIP != record_.ip)
            return false;
        // A second answer is taken too, so that it is never stored as a configuration's.
        if (!answer) {
            answer = feedback;
            if (onAnswer)
                onAnswer();
        }
        return true;
    }
    std::optional<ElementFeedback> answer;
    std::function<void()> onAnswer;

private:
    const ElementRecord& record_;
};

// The stored value of one entry of a record, by the entry's key.
QString StoredValue(const ElementRecord& record, const QString& key)
{
    const std::pair<const char*, QString ElementRecord::*> members[] = {
        {ElementKeys::name, &ElementRecord::name},     {ElementKeys::ip, &ElementRecord::ip},
        {ElementKeys::mask, &ElementRecord::mask},     {ElementKeys::gw, &ElementRecord::gw},
        {ElementKeys::remote, &ElementRecord::remote}, {ElementKeys::input, &ElementRecord::input},
        {ElementKeys::type, &ElementRecord::type},     {ElementKeys::tx, &ElementRecord::tx},
        {ElementKeys::role, &ElementRecord::role},     {ElementKeys::sn, &ElementRecord::sn},
        {ElementKeys::att, &ElementRecord::att},
    };
    for (const auto& [entry, member] : members) {
        if (key == QLatin1String(entry))
            return record.*member;
    }
    return QString();
}

// The entries the answer would be stored as, where they differ from what is stored.
QStringList DifferingEntries(const ElementRecord& record, const ElementFeedback& feedback)
{
    QStringList differing;
    if (MacTextToKey(feedback.ElementMAC) != record.key)
        differing.append(QStringLiteral("mac"));
    for (const auto& [key, value] : DiscoveryEntries(feedback)) {
        // Attenuation is the operator's to set and is stored as sent.
        if (key == QLatin1String(ElementKeys::att))
            continue;
        if (StoredValue(record, key).trimmed().compare(value.trimmed(), Qt::CaseInsensitive) != 0)
            differing.append(key);
    }
    return differing;
}

bool Milliseconds(const CtlArguments& arguments, const QString& option, double fallback, double* value)
{
    if (!arguments.isSet(option)) {
        *value = fallback;
        return true;
    }
    bool ok = false;
    *value = arguments.value(option).toDouble(&ok);
    return ok && *value >= 0;
}

} // namespace

int RunCheck(const CtlArguments& arguments)
{
    double warning = 0, critical = 0, silence = 0;
    if (!Milliseconds(arguments, QStringLiteral("warning"), 50, &warning)
        || !Milliseconds(arguments, QStringLiteral("critical"), 200, &critical) || warning > critical)
        return Report(PluginUnknown, QStringLiteral("-w and -c take milliseconds, -w not above -c"));
    bool ok = true;
    silence = arguments.isSet(QStringLiteral("silence-dbfs"))
        ? arguments.value(QStringLiteral("silence-dbfs")).toDouble(&ok)
        : -50.0;
    if (!ok || silence > 0)
        return Report(PluginUnknown, QStringLiteral("--silence-dbfs takes dBFS, 0 or below"));

    ElementRecord record;
    QString message;
    if (ResolveElement(CtlDatabasePath(arguments), arguments.arguments.first(), &record, &message) != ExitOk)
        return Report(PluginUnknown, message);
    bool addressOk = false;
    const quint32 address = Ipv4FromDottedText(record.ip, &addressOk);
    if (!addressOk)
        return Report(PluginUnknown, QStringLiteral("%1 has no valid stored address").arg(ElementLabel(record)));
    const bool audio =
        RoleFromStored(record.role) == ElementRole::Encoder && !arguments.isSet(QStringLiteral("no-audio"));

    CtlSession session({CtlDatabasePath(arguments), arguments.windowMs});
    ConsoleCore& core = session.core();
    if (!core.link.bind())
        return Report(PluginUnknown,
                      WatchServiceHoldsPortText(core.link.ports().console).isEmpty()
                          ? QStringLiteral("port %1 is in use (is the Orbilane NMS console running?)")
                                .arg(core.link.ports().console)
                          : QStringLiteral("port %1 is held by the watch service (orbilane-watch), which watches "
                                           "every element; ask its metrics or the journal instead")
                                .arg(core.link.ports().console));
    const int windowMs = arguments.windowMs;
    QEventLoop loop;

    // Echo.
    std::optional<double> roundTrip;
    bool echoDone = false;
    QTimer echoWait;
    echoWait.setSingleShot(true);
    // Paging answer.
    PagingAnswer paging(record);
    core.feedback.addCollector(&paging);
    QTimer pagingWait;
    pagingWait.setSingleShot(true);
    // Audio.
    std::optional<quint32> peak;
    QTimer audioWait;
    audioWait.setSingleShot(true);

    auto finished = [&] {
        const bool audioDone = !audio || !audioWait.isActive();
        if (echoDone && (paging.answer || !pagingWait.isActive()) && audioDone)
            loop.quit();
    };
    QObject::connect(&session.sweep(), &EchoSweep::replied, &loop, [&](quint32 from, double ms) {
        if (from != address || echoDone)
            return;
        roundTrip = ms;
        echoDone = true;
        finished();
    });
    QObject::connect(&echoWait, &QTimer::timeout, &loop, [&] {
        echoDone = true;
        finished();
    });
    paging.onAnswer = [&] { finished(); };
    QObject::connect(&pagingWait, &QTimer::timeout, &loop, finished);
    QObject::connect(&core.audio, &AudioMonitor::levelChanged, &loop, [&](const AudioLevel& level) {
        peak = qMax(peak.value_or(0), level.peak);
        // One answer above the threshold shows the audio is there.
        if (PeakDbfs(*peak) >= silence) {
            audioWait.stop();
            finished();
        }
    });
    QObject::connect(&audioWait, &QTimer::timeout, &loop, finished);
    QTimer deadline;
    deadline.setSingleShot(true);
    bool late = false;
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        late = true;
        loop.quit();
    });

    QString failure;
    if (!session.sweep().send(address))
        return Report(PluginUnknown, QStringLiteral("no echo request could be sent (no ICMP socket)"));
    echoWait.start(windowMs > 0 ? windowMs : qMax(kEchoWaitMs, int(critical) + 100));
    if (!core.link.sendTo(PagingRequest(), QHostAddress(qFromBigEndian(address)), core.link.ports().paging, 0,
                          &failure))
        return Report(PluginUnknown, QStringLiteral("the paging request could not be sent: %1").arg(failure));
    pagingWait.start(windowMs > 0 ? windowMs : kPagingWaitMs);
    if (audio) {
        if (!core.selectElement(record.key))
            return Report(PluginUnknown,
                          QStringLiteral("the stored record of %1 is damaged").arg(ElementLabel(record)));
        core.audio.start();
        audioWait.start(windowMs > 0 ? windowMs : kAudioWaitMs);
    }
    deadline.start(kCheckDeadlineMs);
    loop.exec();
    core.audio.stop();
    if (late)
        return Report(PluginUnknown, QStringLiteral("%1: the check did not end in time").arg(ElementLabel(record)));

    PluginStatus status = PluginOk;
    auto raise = [&status](PluginStatus to) { status = qMax(status, to); };
    QStringList parts;
    QStringList performance;
    if (!roundTrip) {
        raise(PluginCritical);
        parts.append(QStringLiteral("no echo answer"));
    } else {
        if (*roundTrip > critical)
            raise(PluginCritical);
        else if (*roundTrip > warning)
            raise(PluginWarning);
        parts.append(QStringLiteral("up, rtt %1 ms").arg(*roundTrip, 0, 'f', 1));
        performance.append(QStringLiteral("rtt=%1ms;%2;%3;0").arg(*roundTrip, 0, 'f', 3).arg(warning).arg(critical));
    }
    if (!paging.answer) {
        raise(PluginCritical);
        parts.append(QStringLiteral("no answer to paging"));
    } else if (const QStringList differing = DifferingEntries(record, *paging.answer); !differing.isEmpty()) {
        raise(PluginCritical);
        parts.append(QStringLiteral("answer differs from the database in %1").arg(differing.join(u',')));
    }
    if (audio) {
        if (!peak) {
            raise(PluginCritical);
            parts.append(QStringLiteral("no level answer"));
        } else {
            const double dbfs = PeakDbfs(*peak);
            if (dbfs < silence) {
                raise(PluginCritical);
                parts.append(std::isfinite(dbfs) ? QStringLiteral("audio silent (%1 dBFS)").arg(dbfs, 0, 'f', 1)
                                                 : QStringLiteral("audio silent"));
            } else {
                parts.append(QStringLiteral("audio %1 dBFS").arg(dbfs, 0, 'f', 1));
            }
            // Perfdata knows no unit for dBFS; digital silence (minus infinity) has no value.
            if (std::isfinite(dbfs))
                performance.append(QStringLiteral("level=%1;;%2:").arg(dbfs, 0, 'f', 1).arg(silence));
        }
    }
    return Report(status, ElementLabel(record) + u' ' + parts.join(QStringLiteral(", ")), performance.join(u' '));
}

} // namespace nms
