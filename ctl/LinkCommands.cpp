// The commands that talk to the elements, each through the console's core.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <optional>

#include "app/DiscoveryReport.h"
#include "app/ElementLookup.h"
#include "audio/AttenuationText.h"
#include "audio/LevelMeter.h"
#include "base/AddressText.h"
#include "base/Csv.h"
#include "ctl/Commands.h"
#include "ctl/CtlOutput.h"
#include "ctl/CtlSession.h"
#include "database/ElementHistory.h"
#include "database/ElementRecords.h"
#include "services/TerminationSignals.h"
#include "session/ConfigChecks.h"
#include "session/ConsoleState.h"
#include "session/SavedConfiguration.h"

namespace nms {

namespace {

int Fail(int status, const QString& message)
{
    PrintError(message);
    return status;
}

// The element the command names, or the status to end with (said on standard error).
std::optional<ElementRecord> Resolve(const CtlArguments& arguments, int* status)
{
    ElementRecord record;
    QString message;
    *status = ResolveElement(CtlDatabasePath(arguments), arguments.arguments.first(), &record, &message);
    if (*status != ExitOk) {
        PrintError(message);
        return std::nullopt;
    }
    return record;
}

// A count or a number of seconds given to an option; `fallback` when it is not given.
bool PositiveOption(const CtlArguments& arguments, const QString& name, double fallback, double* value)
{
    if (!arguments.isSet(name)) {
        *value = fallback;
        return true;
    }
    bool ok = false;
    *value = arguments.value(name).toDouble(&ok);
    if (ok && *value > 0)
        return true;
    PrintError(QStringLiteral("--%1 takes a number above 0, not '%2'").arg(name, arguments.value(name)));
    return false;
}

QString DbfsText(double dbfs)
{
    return std::isfinite(dbfs) ? QStringLiteral("%1 dBFS").arg(dbfs, 0, 'f', 1) : QStringLiteral("-inf dBFS");
}

QJsonValue DbfsJson(double dbfs)
{
    // JSON has no infinity: digital silence is null.
    return std::isfinite(dbfs) ? QJsonValue(std::round(dbfs * 10) / 10) : QJsonValue();
}

// The option names of the fields a configuration answer names.
QString OptionOfField(const QString& field)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("Element Name"), QStringLiteral("name")},
        {QStringLiteral("Element IP"), QStringLiteral("ip")},
        {QStringLiteral("Element Mask"), QStringLiteral("mask")},
        {QStringLiteral("Element GW"), QStringLiteral("gateway")},
        {QStringLiteral("Remote IP"), QStringLiteral("remote")},
        {QStringLiteral("Audio Input"), QStringLiteral("input")},
        {QStringLiteral("Audio Type"), QStringLiteral("type")},
        {QStringLiteral("Audio TX"), QStringLiteral("tx")},
        {QStringLiteral("Role"), QStringLiteral("role")},
    };
    return names.value(field, field);
}

QString RoleWord(ElementRole role)
{
    switch (role) {
    case ElementRole::Encoder: return QStringLiteral("an encoder");
    case ElementRole::Decoder: return QStringLiteral("a decoder");
    default: return QStringLiteral("an element of unknown role");
    }
}

// A selector's value given as a word (or the editor's caption) as the list position.
int ChoiceIndex(const QString& given, const QStringList& words, const QStringList& captions)
{
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (given.compare(words.at(i), Qt::CaseInsensitive) == 0
            || given.compare(captions.at(i), Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

// What set and apply-config send: the configuration, the options it changes (for what is said
// confirmed), the attenuation a decoder is sent once the rest is confirmed, and the exit status of
// a configuration the editor would refuse.
struct Sending {
    ElementRecord record;
    ConfigFields fields;
    QStringList changed;
    std::optional<int> attenuation;
    int refusedStatus = ExitUsage;
};

// The address guard's findings, the network asked when it has to be.
QStringList GuardFindings(ConsoleCore& core, const ConfigFields& fields)
{
    if (const std::optional<QStringList> findings = core.guardConfig(fields))
        return *findings;
    QStringList findings;
    QEventLoop loop;
    QObject::connect(&core.guard, &AddressGuard::finished, &loop, [&](const QStringList& found) {
        findings = found;
        loop.quit();
    });
    loop.exec();
    return findings;
}

// Checks, guards and sends the configuration to the element, waits for its answer and says what
// it confirmed; only that is stored.
int SendConfiguration(const CtlArguments& arguments, const Sending& sending)
{
    const QString command = arguments.command->name;
    const ElementRecord& record = sending.record;
    const QString path = CtlDatabasePath(arguments);
    // The editor's own checks and words.
    const QString refusal = SaveRefusal(true, sending.fields, ElementStore(path).exists());
    if (!refusal.isEmpty())
        return Fail(sending.refusedStatus, command + QStringLiteral(": ") + refusal);

    CtlSession session({path, arguments.windowMs});
    if (!session.bind())
        return ExitCannotRun;
    ConsoleCore& core = session.core();
    if (!core.selectElement(record.key))
        return ExitFailed;
    if (!arguments.isSet(QStringLiteral("force"))) {
        const QStringList findings = GuardFindings(core, sending.fields);
        if (!findings.isEmpty()) {
            for (const QString& finding : findings)
                PrintError(finding);
            return Fail(ExitFailed,
                        QStringLiteral("%1: nothing was sent to %2 (--force sends it all the same)")
                            .arg(command, ElementLabel(record)));
        }
    }
    QEventLoop loop;
    std::optional<QStringList> refused; // none: no answer taken
    QObject::connect(&core.feedback, &FeedbackProcessor::configurationAnswered, &loop,
                     [&](const QString& key, const QStringList& fieldsRefused) {
                         if (key != record.key)
                             return;
                         refused = fieldsRefused;
                         loop.quit();
                     });
    QObject::connect(&core.sender, &ElementSender::replyTimedOut, &loop, &QEventLoop::quit);
    // An answer that could not be taken (its MAC not found, another element's) stops the wait
    // as well: the notice said why.
    QObject::connect(&core.feedback, &FeedbackProcessor::feedbackHandled, &loop, [&] {
        if (!core.sender.replyTimerActive())
            loop.quit();
    });
    if (!core.sendConfig(sending.fields))
        return ExitFailed;
    loop.exec();
    if (!refused)
        return Fail(
            ExitFailed,
            QStringLiteral("%1 did not confirm the configuration; nothing was stored").arg(ElementLabel(record)));

    QStringList refusedOptions;
    for (const QString& field : *refused)
        refusedOptions.append(OptionOfField(field));
    QStringList confirmed;
    for (const QString& option : sending.changed) {
        if (!refusedOptions.contains(option))
            confirmed.append(option);
    }
    // The attenuation goes to the address the element now has (the list was reloaded with its
    // answer), as attenuate sends it; the element does not answer it: sent and stored is all.
    bool attenuationSent = false;
    if (sending.attenuation && refusedOptions.isEmpty()) {
        QObject::connect(&core.audio, &AudioMonitor::attenuationSent, [&] { attenuationSent = true; });
        core.audio.setAttenuation(*sending.attenuation);
        if (attenuationSent && core.store.read(record.key).att == QString::number(*sending.attenuation))
            confirmed.append(QStringLiteral("attenuation"));
        else
            refusedOptions.append(QStringLiteral("attenuation"));
    }
    const ElementRecord stored = core.store.read(record.key);
    if (arguments.json) {
        PrintJson(QJsonDocument(QJsonObject {{QStringLiteral("element"), RecordJson(stored)},
                                             {QStringLiteral("confirmed"), QJsonArray::fromStringList(confirmed)},
                                             {QStringLiteral("refused"), QJsonArray::fromStringList(refusedOptions)}}));
    } else {
        QString text = QStringLiteral("%1\n").arg(ElementLabel(stored));
        text += QStringLiteral("confirmed: %1\n").arg(confirmed.isEmpty() ? QStringLiteral("-") : confirmed.join(u' '));
        text += QStringLiteral("refused: %1\n")
                    .arg(refusedOptions.isEmpty() ? QStringLiteral("-") : refusedOptions.join(u' '));
        PrintOut(text);
    }
    return refusedOptions.isEmpty() ? ExitOk : ExitFailed;
}

} // namespace

int RunDiscover(const CtlArguments& arguments)
{
    const bool noStore = arguments.isSet(QStringLiteral("no-store"));
    const bool csv = arguments.isSet(QStringLiteral("csv"));
    QString path = CtlDatabasePath(arguments);
    QString reason;
    if (CheckDatabaseReadable(path, &reason) != ExitOk)
        return Fail(ExitCannotRun, reason);
    // Without storing, the discovery rebuilds a copy: the database, its event log and its
    // history stay exactly as they are.
    QTemporaryDir scratch;
    if (noStore) {
        const QString copy = scratch.filePath(QStringLiteral("nms.ini"));
        if (!scratch.isValid() || (QFile::exists(path) && !QFile::copy(path, copy)))
            return Fail(ExitCannotRun, QStringLiteral("cannot copy the database %1 to work on").arg(path));
        path = copy;
    }
    CtlSession session({path, arguments.windowMs});
    if (!session.bind())
        return ExitCannotRun;
    ConsoleCore& core = session.core();
    const QList<ElementRecord> before = core.store.readAll();
    QEventLoop loop;
    QObject::connect(&core, &ConsoleCore::discoveryReported, &loop, &QEventLoop::quit);
    if (!core.startDiscovery())
        return ExitCannotRun;
    loop.exec();

    const QList<ElementRecord> found = core.store.readAll();
    const DiscoveryReport report = CompareDiscovery(before, found);
    QSet<QString> added;
    for (const ElementRecord& record : report.added)
        added.insert(record.key);
    if (arguments.json) {
        QJsonArray foundArray, missingArray;
        for (const ElementRecord& record : found) {
            QJsonObject object = RecordJson(record);
            object.insert(QStringLiteral("new"), added.contains(record.key));
            foundArray.append(object);
        }
        for (const ElementRecord& record : report.missing)
            missingArray.append(RecordJson(record));
        PrintJson(QJsonDocument(QJsonObject {{QStringLiteral("found"), foundArray},
                                             {QStringLiteral("missing"), missingArray},
                                             {QStringLiteral("stored"), !noStore}}));
    } else {
        QList<QStringList> rows;
        for (const ElementRecord& record : found) {
            QStringList row = RecordCsvFields(record);
            row.prepend(added.contains(record.key) ? QStringLiteral("new") : QStringLiteral("known"));
            rows.append(row);
        }
        for (const ElementRecord& record : report.missing) {
            QStringList row = RecordCsvFields(record);
            row.prepend(QStringLiteral("missing"));
            rows.append(row);
        }
        QStringList header = RecordCsvHeader();
        header.prepend(QStringLiteral("status"));
        if (csv) {
            QString text = CsvLine(header);
            for (const QStringList& row : rows)
                text += CsvLine(row);
            PrintOut(text);
        } else if (!rows.isEmpty()) {
            // status, name, mac, ip, role, serial: what a person scans for.
            QList<QStringList> shown;
            for (const QStringList& row : rows)
                shown.append({row.at(0), row.at(2), row.at(1), row.at(3), row.at(10), row.at(11)});
            PrintOut(TableText({QStringLiteral("STATUS"), QStringLiteral("NAME"), QStringLiteral("MAC"),
                                QStringLiteral("IP"), QStringLiteral("ROLE"), QStringLiteral("SERIAL")},
                               shown));
        }
    }
    // The core tells what changed as a notice; what it found is said here when nothing did.
    if (report.added.isEmpty() && report.missing.isEmpty())
        PrintError(DiscoveryReportText(report));
    if (noStore)
        PrintError(QStringLiteral("the database %1 was left as it was (--no-store)").arg(CtlDatabasePath(arguments)));
    return found.isEmpty() ? ExitFailed : ExitOk;
}

int RunPing(const CtlArguments& arguments)
{
    double count = 0, interval = 0;
    if (!PositiveOption(arguments, QStringLiteral("count"), 4, &count)
        || !PositiveOption(arguments, QStringLiteral("interval"), 1, &interval))
        return ExitUsage;
    int status = ExitOk;
    const std::optional<ElementRecord> record = Resolve(arguments, &status);
    if (!record)
        return status;
    bool ok = false;
    const quint32 address = Ipv4FromDottedText(record->ip, &ok);
    if (!ok)
        return Fail(ExitFailed, QStringLiteral("%1 has no valid stored address").arg(ElementLabel(*record)));

    // ICMP only: the console port is left alone.
    LinuxEchoSweep sweep;
    const int waitMs = CtlTiming(arguments.windowMs).echoWaitMs;
    const int total = int(count);
    QList<double> roundTrips; // NaN: no answer
    QEventLoop loop;
    QTimer wait, next;
    wait.setSingleShot(true);
    next.setSingleShot(true);
    bool waiting = false;
    QElapsedTimer sentAt;
    auto done = [&](double roundTripMs) {
        waiting = false;
        wait.stop();
        const int sequence = int(roundTrips.size()) + 1;
        roundTrips.append(roundTripMs);
        if (!arguments.json) {
            PrintOut(std::isnan(roundTripMs)
                         ? QStringLiteral("no answer from %1: seq=%2\n").arg(record->ip).arg(sequence)
                         : QStringLiteral("answer from %1: seq=%2 time=%3 ms\n")
                               .arg(record->ip)
                               .arg(sequence)
                               .arg(roundTripMs, 0, 'f', 3));
        }
        if (roundTrips.size() >= total)
            loop.quit();
        else
            next.start(qMax(0, int(interval * 1000) - int(sentAt.elapsed())));
    };
    bool sendFailed = false;
    auto send = [&] {
        sentAt.start();
        if (!sweep.send(address)) {
            sendFailed = true;
            loop.quit();
            return;
        }
        waiting = true;
        wait.start(waitMs);
    };
    QObject::connect(&sweep, &EchoSweep::replied, &loop, [&](quint32 from, double roundTripMs) {
        if (waiting && from == address)
            done(roundTripMs);
    });
    QObject::connect(&wait, &QTimer::timeout, &loop, [&] { done(qQNaN()); });
    QObject::connect(&next, &QTimer::timeout, &loop, send);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &loop, &QEventLoop::quit);
    QTimer::singleShot(0, &loop, send);
    loop.exec();
    if (sendFailed)
        return Fail(ExitCannotRun,
                    QStringLiteral("no echo request could be sent to %1 (no ICMP socket: allow "
                                   "net.ipv4.ping_group_range or give the raw-socket capability)")
                        .arg(record->ip));

    int answered = 0;
    double low = 0, high = 0, sum = 0;
    QJsonArray replies;
    for (double roundTrip : roundTrips) {
        replies.append(std::isnan(roundTrip) ? QJsonValue() : QJsonValue(roundTrip));
        if (std::isnan(roundTrip))
            continue;
        low = answered ? qMin(low, roundTrip) : roundTrip;
        high = qMax(high, roundTrip);
        sum += roundTrip;
        ++answered;
    }
    if (arguments.json) {
        PrintJson(QJsonDocument(QJsonObject {{QStringLiteral("element"), RecordJson(*record)},
                                             {QStringLiteral("sent"), int(roundTrips.size())},
                                             {QStringLiteral("answered"), answered},
                                             {QStringLiteral("roundTripsMs"), replies}}));
    } else {
        QString summary =
            QStringLiteral("%1: %2 sent, %3 answered").arg(ElementLabel(*record)).arg(roundTrips.size()).arg(answered);
        if (answered)
            summary += QStringLiteral(", round trip min/avg/max %1/%2/%3 ms")
                           .arg(low, 0, 'f', 3)
                           .arg(sum / answered, 0, 'f', 3)
                           .arg(high, 0, 'f', 3);
        PrintOut(summary + u'\n');
    }
    return answered ? ExitOk : ExitFailed;
}

int RunLevel(const CtlArguments& arguments)
{
    double seconds = 0;
    if (!PositiveOption(arguments, QStringLiteral("seconds"), 0, &seconds))
        return ExitUsage;
    int status = ExitOk;
    const std::optional<ElementRecord> record = Resolve(arguments, &status);
    if (!record)
        return status;
    if (RoleFromStored(record->role) != ElementRole::Encoder)
        return Fail(ExitFailed,
                    QStringLiteral("%1 is no encoder: only an encoder reports its level").arg(ElementLabel(*record)));
    CtlSession session({CtlDatabasePath(arguments), arguments.windowMs});
    if (!session.bind())
        return ExitCannotRun;
    ConsoleCore& core = session.core();
    if (!core.selectElement(record->key))
        return ExitFailed;

    std::optional<quint32> peak; // of the second running; none: no answer in it
    QJsonArray levels;
    int printed = 0, answered = 0;
    QEventLoop loop;
    QObject::connect(&core.audio, &AudioMonitor::levelChanged, &loop,
                     [&](const AudioLevel& level) { peak = qMax(peak.value_or(0), level.peak); });
    QTimer second;
    second.setTimerType(Qt::PreciseTimer);
    QObject::connect(&second, &QTimer::timeout, &loop, [&] {
        ++printed;
        const double dbfs = peak ? PeakDbfs(*peak) : qQNaN();
        answered += peak ? 1 : 0;
        levels.append(QJsonObject {{QStringLiteral("second"), printed},
                                   {QStringLiteral("answered"), bool(peak)},
                                   {QStringLiteral("peakDbfs"), peak ? DbfsJson(dbfs) : QJsonValue()}});
        if (!arguments.json)
            PrintOut(peak ? DbfsText(dbfs) + u'\n' : QStringLiteral("no answer\n"));
        peak.reset();
        if (seconds > 0 && printed >= int(std::ceil(seconds)))
            loop.quit();
    });
    QObject::connect(&core.audio, &AudioMonitor::monitoringChanged, &loop, [&](bool on) {
        // A query the network refused ends the monitoring (the notice said why).
        if (!on)
            loop.quit();
    });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &loop, &QEventLoop::quit);
    core.audio.start();
    second.start(1000);
    loop.exec();
    if (arguments.json)
        PrintJson(QJsonDocument(
            QJsonObject {{QStringLiteral("element"), RecordJson(*record)}, {QStringLiteral("levels"), levels}}));
    return answered ? ExitOk : ExitFailed;
}

int RunSet(const CtlArguments& arguments)
{
    int status = ExitOk;
    const std::optional<ElementRecord> record = Resolve(arguments, &status);
    if (!record)
        return status;
    ConfigFields fields = StoredConfigFields(*record);
    QStringList changed;
    const struct {
        const char* option;
        QString* text;
    } addresses[] = {{"ip", &fields.ip}, {"mask", &fields.mask}, {"gateway", &fields.gw}, {"remote", &fields.remote}};
    if (arguments.isSet(QStringLiteral("name"))) {
        fields.name = arguments.value(QStringLiteral("name"));
        if (fields.name.size() > ElementNameWidth)
            return Fail(ExitUsage, QStringLiteral("set: a name has at most %1 characters").arg(ElementNameWidth));
        changed.append(QStringLiteral("name"));
    }
    for (const auto& address : addresses) {
        const QString option = QLatin1String(address.option);
        if (arguments.isSet(option)) {
            *address.text = arguments.value(option);
            changed.append(option);
        }
    }
    const struct {
        const char* option;
        int* index;
        QStringList words, captions;
    } selectors[] = {
        {"input", &fields.input, {QStringLiteral("digital"), QStringLiteral("analog")}, AudioInputChoices()},
        {"type", &fields.type, {QStringLiteral("lr"), QStringLiteral("mpx")}, AudioTypeChoices()},
        {"tx", &fields.tx, {QStringLiteral("unicast"), QStringLiteral("multicast")}, AudioTxChoices()},
    };
    for (const auto& selector : selectors) {
        const QString option = QLatin1String(selector.option);
        if (!arguments.isSet(option))
            continue;
        *selector.index = ChoiceIndex(arguments.value(option), selector.words, selector.captions);
        if (*selector.index < 0)
            return Fail(ExitUsage,
                        QStringLiteral("set: --%1 is %2, not '%3'")
                            .arg(option, selector.words.join(QStringLiteral(" or ")), arguments.value(option)));
        changed.append(option);
    }
    if (changed.isEmpty())
        return Fail(ExitUsage, QStringLiteral("set: give at least one field to change"));
    return SendConfiguration(arguments, {*record, fields, changed, std::nullopt, ExitUsage});
}

int RunApplyConfig(const CtlArguments& arguments)
{
    int status = ExitOk;
    const std::optional<ElementRecord> record = Resolve(arguments, &status);
    if (!record)
        return status;
    // An existing file is a file; else a MAC address names an element of the history.
    const QString source = arguments.arguments.at(1);
    const QString historyKey = MacTextToElementKey(source);
    ElementRecord configuration;
    QString origin;
    if (!historyKey.isEmpty() && !QFileInfo::exists(source)) {
        StderrNotices notices;
        const QString path = CtlDatabasePath(arguments);
        const std::optional<HistoryEntry> entry =
            ElementHistory(ElementHistory::PathBeside(path), notices).find(historyKey);
        if (!entry)
            return Fail(ExitFailed,
                        QStringLiteral("apply-config: no element with the MAC address %1 was ever seen (%2)")
                            .arg(KeyToMacText(historyKey), ElementHistory::PathBeside(path)));
        configuration = entry->record;
        origin = QStringLiteral("the configuration %1 last had").arg(ElementLabel(configuration));
    } else {
        QString error;
        const std::optional<SavedConfiguration> saved = LoadConfigurationFile(source, &error);
        if (!saved)
            return Fail(ExitFailed, QStringLiteral("apply-config: cannot use %1: %2").arg(source, error));
        configuration = saved->record;
        origin = QStringLiteral("the configuration of %1").arg(source);
    }
    const ElementRole role = RoleFromStored(record->role);
    const ElementRole given = RoleFromStored(configuration.role);
    if (role != given && !arguments.isSet(QStringLiteral("force")))
        return Fail(ExitFailed,
                    QStringLiteral("apply-config: %1 is for %2 and %3 is %4 (--force sends it all the same)")
                        .arg(origin, RoleWord(given), ElementLabel(*record), RoleWord(role)));

    Sending sending {*record,
                     StoredConfigFields(configuration),
                     {QStringLiteral("name"), QStringLiteral("ip"), QStringLiteral("mask"), QStringLiteral("gateway"),
                      QStringLiteral("remote"), QStringLiteral("input"), QStringLiteral("type"), QStringLiteral("tx")},
                     std::nullopt,
                     ExitFailed};
    bool attOk = false;
    const int att = configuration.att.toInt(&attOk);
    if (attOk && given == ElementRole::Decoder && role == ElementRole::Decoder)
        sending.attenuation = att;
    return SendConfiguration(arguments, sending);
}

int RunAttenuate(const CtlArguments& arguments)
{
    // "-10", "-10.5", "-10 dB", "0", "mute": 0 to -120 dB in half decibels.
    QString given = arguments.arguments.at(1).trimmed();
    int code = -1;
    if (given.compare(QStringLiteral("mute"), Qt::CaseInsensitive) == 0) {
        code = AttenuationMinimum;
    } else {
        if (given.endsWith(QStringLiteral("dB"), Qt::CaseInsensitive))
            given.chop(2);
        bool ok = false;
        const double db = QLocale::c().toDouble(given.trimmed().replace(u',', u'.'), &ok);
        const double halves = db * 2;
        if (ok && db <= 0 && std::round(halves) == halves && AttenuationZeroDb + int(halves) > AttenuationMinimum)
            code = AttenuationZeroDb + int(halves);
    }
    if (code < 0)
        return Fail(ExitUsage,
                    QStringLiteral("attenuate: '%1' is no attenuation: 0 to %2 dB in steps of 0.5 dB, or mute")
                        .arg(arguments.arguments.at(1))
                        .arg((AttenuationMinimum + 1 - AttenuationZeroDb) / 2.0));
    int status = ExitOk;
    const std::optional<ElementRecord> record = Resolve(arguments, &status);
    if (!record)
        return status;
    if (RoleFromStored(record->role) != ElementRole::Decoder)
        return Fail(
            ExitFailed,
            QStringLiteral("%1 is no decoder: only a decoder has an output attenuation").arg(ElementLabel(*record)));
    CtlSession session({CtlDatabasePath(arguments), arguments.windowMs});
    if (!session.bind())
        return ExitCannotRun;
    ConsoleCore& core = session.core();
    if (!core.selectElement(record->key))
        return ExitFailed;
    bool sent = false;
    QObject::connect(&core.audio, &AudioMonitor::attenuationSent, [&sent] { sent = true; });
    core.audio.setAttenuation(code);
    const bool stored = core.store.read(record->key).att == QString::number(code);
    const QString caption = AttenuationCaption(code, AttenuationMinimum, QLocale::c());
    if (arguments.json)
        PrintJson(QJsonDocument(QJsonObject {{QStringLiteral("element"), RecordJson(core.store.read(record->key))},
                                             {QStringLiteral("sent"), sent},
                                             {QStringLiteral("stored"), stored}}));
    else if (sent)
        PrintOut(QStringLiteral("%1: attenuation %2 sent%3\n")
                     .arg(ElementLabel(*record), caption,
                          stored ? QStringLiteral(" and stored") : QStringLiteral(", not stored")));
    return sent && stored ? ExitOk : ExitFailed;
}

int RunMonitor(const CtlArguments& arguments)
{
    double seconds = 0;
    if (!PositiveOption(arguments, QStringLiteral("for"), 0, &seconds))
        return ExitUsage;
    const QString path = CtlDatabasePath(arguments);
    QString reason;
    if (CheckDatabaseReadable(path, &reason) != ExitOk)
        return Fail(ExitCannotRun, reason);
    CtlSession session({path, arguments.windowMs, true});
    ConsoleCore& core = session.core();
    // Every event as the event log writes it, the moment it is written.
    core.eventLog.setEcho([](const QByteArray& line) { PrintOut(QString::fromUtf8(line)); });
    QEventLoop loop;
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &loop, &QEventLoop::quit);
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!session.start())
        return ExitCannotRun;
    if (core.store.readAll().isEmpty())
        PrintError(QStringLiteral("the database %1 holds no element to watch").arg(path));
    if (seconds > 0)
        end.start(int(seconds * 1000));
    loop.exec();
    core.shutdown();
    return ExitOk;
}

} // namespace nms
