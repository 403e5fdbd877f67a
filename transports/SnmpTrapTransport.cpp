#include "transports/SnmpTrapTransport.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "base/Trace.h"

namespace nms {

namespace {

constexpr int kTries = 3;
const char* const kSysUpTime = "1.3.6.1.2.1.1.3.0";
const char* const kSnmpTrapOid = "1.3.6.1.6.3.1.1.4.1.0";

// The MIB's numbers: notifications under .1.0, objects under .1.1.
enum Notice {
    ElementDown = 1,
    ElementUp,
    ElementSilence,
    ElementAudioBack,
    ElementMissing,
    ConfigRefused,
    ConfigTimeout,
    ElementFlapping,
    NotifyTest
};
enum State { StateUp = 1, StateDown, StateSilent, StateMissing, StateUnknown, StateFlapping };
enum Severity { Cleared = 1, Indeterminate, Critical, Major, Minor, Warning };

struct Meaning {
    Notice notice;
    State state;
    Severity severity;
};

std::optional<Meaning> MeaningOf(const NotifyMessage& m)
{
    const bool resolved = m.status == QLatin1String("resolved");
    const QString& e = m.event;
    // A recovery clears with the notification of its own kind, whichever name it was given.
    if (e == QLatin1String("element-up") || (resolved && e == QLatin1String("element-down")))
        return Meaning {ElementUp, StateUp, Cleared};
    if (e == QLatin1String("audio-back") || (resolved && e == QLatin1String("silence")))
        return Meaning {ElementAudioBack, StateUp, Cleared};
    if (e == QLatin1String("element-down"))
        return Meaning {ElementDown, StateDown, Critical};
    if (e == QLatin1String("silence"))
        return Meaning {ElementSilence, StateSilent, Critical};
    if (e == QLatin1String("element-missing"))
        return Meaning {ElementMissing, StateMissing, resolved ? Cleared : Major};
    if (e == QLatin1String("config-refused"))
        return Meaning {ConfigRefused, StateUp, resolved ? Cleared : Warning};
    if (e == QLatin1String("config-timeout"))
        return Meaning {ConfigTimeout, StateUnknown, resolved ? Cleared : Warning};
    if (e == QLatin1String("flapping"))
        return Meaning {ElementFlapping, StateFlapping, resolved ? Cleared : Major};
    if (e == QLatin1String("test"))
        return Meaning {NotifyTest, StateUnknown, Indeterminate};
    return std::nullopt;
}

QString MacHex(const QString& mac)
{
    QString hex = mac;
    hex.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    static const QRegularExpression kHex(QStringLiteral("^[0-9A-Fa-f]{12}$"));
    return kHex.match(hex).hasMatch() ? hex : QStringLiteral("000000000000");
}

int RoleNumber(const QString& role)
{
    return role == QLatin1String("encoder") ? 2 : role == QLatin1String("decoder") ? 3 : 1;
}

// Every call into net-snmp, from whichever worker, one at a time; set up once.
std::mutex& NetSnmp()
{
    static std::mutex mutex;
    static bool ready = false;
    std::lock_guard lock(mutex);
    if (!ready) {
        // Only the transports (UDP): no init_snmp(), so nothing of snmp.conf, no MIB files, no
        // persistent files read or written; every OID goes out as numbers.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_tdomain_init();
        ready = true;
    }
    return mutex;
}

bool AddVar(netsnmp_pdu* pdu, const QString& oidText, char type, const QString& value)
{
    oid name[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (!read_objid(oidText.toLatin1().constData(), name, &length))
        return false;
    return snmp_add_var(pdu, name, length, type, value.toUtf8().constData()) == 0;
}

qint64 UpTimeTicks()
{
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed() / 10;
}

// What became of one INFORM: acknowledged (with its error status) or given up after the tries.
struct Answer {
    bool done = false;
    bool received = false;
    long errstat = 0;
};

int Answered(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic)
{
    if (operation == NETSNMP_CALLBACK_OP_RESEND || operation == NETSNMP_CALLBACK_OP_CONNECT)
        return 1; // the next try, or a connection made: not an outcome yet
    auto* answer = static_cast<Answer*>(magic);
    answer->done = true;
    answer->received = operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE;
    answer->errstat = answer->received && pdu ? pdu->errstat : 0;
    return 1;
}

// Waits for an INFORM's answer with net-snmp's lock let go, so that a receiver that never
// answers holds up no other notifier; returns false when waiting itself failed.
bool AwaitAnswer(void* session, const Answer& answer, std::unique_lock<std::mutex>& lock)
{
    netsnmp_large_fd_set fds;
    netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
    bool ok = true;
    while (!answer.done && ok) {
        int count = 0;
        int block = 1;
        timeval wait {};
        NETSNMP_LARGE_FD_ZERO(&fds);
        snmp_sess_select_info2(session, &count, &fds, &wait, &block);
        if (block) {
            ok = false; // nothing outstanding, yet no answer: not to be waited for
            break;
        }
        lock.unlock();
        const int ready = netsnmp_large_fd_set_select(count, &fds, nullptr, nullptr, &wait);
        const int error = errno;
        lock.lock();
        if (ready > 0)
            snmp_sess_read2(session, &fds);
        else if (ready == 0)
            snmp_sess_timeout(session); // the next try, or the callback with "timed out"
        else if (error != EINTR)
            ok = false;
    }
    netsnmp_large_fd_set_cleanup(&fds);
    return ok;
}

constexpr int kTrapBurst = 50;
constexpr std::chrono::milliseconds kTrapGap(2);

// One message's notifications, sent one after the other; the first that is not taken ends it.
DeliveryResult Send(const SnmpTarget& target, const QList<SnmpTrapTransport::Notification>& notifications,
                    qint64 upTime)
{
    std::unique_lock lock(NetSnmp());
    const QByteArray peer = target.peer.toLatin1();
    const QByteArray community = target.community.toUtf8();
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_2c;
    settings.peername = const_cast<char*>(peer.constData());
    settings.community = reinterpret_cast<u_char*>(const_cast<char*>(community.constData()));
    settings.community_len = size_t(community.size());
    settings.retries = kTries - 1;
    settings.timeout = long(target.timeoutMs) * 1000 / kTries;
    void* session = snmp_sess_open(&settings);
    if (!session) {
        int system = 0, library = 0;
        char* text = nullptr;
        snmp_error(&settings, &system, &library, &text);
        const QString reason = QStringLiteral("cannot reach %1: %2").arg(target.peer, QString::fromUtf8(text));
        free(text);
        return {DeliveryResult::Outcome::Retry, reason};
    }

    Answer answer; // lives until the session is closed: net-snmp may call back until then
    int sent = 0;
    DeliveryResult result {
        DeliveryResult::Outcome::Delivered,
        QStringLiteral("%1 %2 sent").arg(notifications.size()).arg(target.inform ? "informs" : "traps")};
    for (const SnmpTrapTransport::Notification& n : notifications) {
        netsnmp_pdu* pdu = snmp_pdu_create(target.inform ? SNMP_MSG_INFORM : SNMP_MSG_TRAP2);
        bool built = AddVar(pdu, QLatin1String(kSysUpTime), 't', QString::number(upTime))
            && AddVar(pdu, QLatin1String(kSnmpTrapOid), 'o', n.oid);
        for (const SnmpTrapTransport::Varbind& v : n.varbinds)
            built = built && AddVar(pdu, v.oid, v.type, v.value);
        if (!built) {
            snmp_free_pdu(pdu);
            result = {DeliveryResult::Outcome::Failed, QStringLiteral("notification %1 cannot be built").arg(n.oid)};
            break;
        }
        if (!target.inform) {
            // Traps are not acknowledged: a thousand sent at once overflow a receiver's socket
            // and most are lost unseen (measured: four in five at snmptrapd on loopback). After
            // a burst they go out paced, with net-snmp's lock let go meanwhile.
            if (++sent > kTrapBurst) {
                lock.unlock();
                std::this_thread::sleep_for(kTrapGap);
                lock.lock();
            }
            if (!snmp_sess_send(session, pdu)) {
                snmp_free_pdu(pdu);
                result = {DeliveryResult::Outcome::Retry,
                          QStringLiteral("trap to %1 not sent: %2").arg(target.peer, snmp_api_errstring(snmp_errno))};
                break;
            }
            continue;
        }
        answer = Answer();
        if (!snmp_sess_async_send(session, pdu, Answered, &answer)) {
            snmp_free_pdu(pdu);
            result = {DeliveryResult::Outcome::Retry,
                      QStringLiteral("inform to %1 not sent: %2").arg(target.peer, snmp_api_errstring(snmp_errno))};
            break;
        }
        if (!AwaitAnswer(session, answer, lock)) {
            result = {DeliveryResult::Outcome::Retry, QStringLiteral("inform to %1 failed").arg(target.peer)};
            break;
        }
        if (!answer.received) {
            result = {DeliveryResult::Outcome::Retry,
                      QStringLiteral("no acknowledgement from %1 within %2 s")
                          .arg(target.peer)
                          .arg(target.timeoutMs / 1000.0)};
            break;
        }
        if (answer.errstat != SNMP_ERR_NOERROR) {
            result = {DeliveryResult::Outcome::Failed,
                      QStringLiteral("inform refused by %1: %2").arg(target.peer, snmp_errstring(int(answer.errstat)))};
            break;
        }
    }
    snmp_sess_close(session);
    return result;
}

} // namespace

QString SnmpTrapTransport::PeerName(const QString& hostPort)
{
    QString host = hostPort;
    QString port = QStringLiteral("162");
    bool six = false;
    static const QRegularExpression kBracketed(QStringLiteral("^\\[([0-9A-Fa-f:.]+)\\](?::(\\d+))?$"));
    static const QRegularExpression kPlain(QStringLiteral("^([A-Za-z0-9.-]+)(?::(\\d+))?$"));
    if (const QRegularExpressionMatch m = kBracketed.match(hostPort); m.hasMatch()) {
        host = m.captured(1);
        six = QHostAddress(host).protocol() == QAbstractSocket::IPv6Protocol;
        if (!six)
            return QString();
        if (m.hasCaptured(2))
            port = m.captured(2);
    } else if (const QRegularExpressionMatch p = kPlain.match(hostPort); p.hasMatch()) {
        host = p.captured(1);
        if (p.hasCaptured(2))
            port = p.captured(2);
    } else {
        return QString();
    }
    bool number = false;
    const int value = port.toInt(&number);
    if (!number || value < 1 || value > 65535 || host.startsWith(QLatin1Char('-')))
        return QString();
    return six ? QStringLiteral("udp6:[%1]:%2").arg(host).arg(value) : QStringLiteral("udp:%1:%2").arg(host).arg(value);
}

QList<SnmpTrapTransport::Notification> SnmpTrapTransport::Notifications(const QString& enterprise,
                                                                        const NotifyMessage& m)
{
    const std::optional<Meaning> meaning = MeaningOf(m);
    if (!meaning)
        return {};
    const QString objects = enterprise + QStringLiteral(".1.1.");
    const QString text = m.text.isEmpty() ? m.title : m.text;
    QList<NotifyElement> elements = m.elements;
    if (elements.isEmpty())
        elements.append(NotifyElement {}); // a test: one notification, about no element
    QList<Notification> notifications;
    for (const NotifyElement& e : std::as_const(elements)) {
        notifications.append({enterprise + QStringLiteral(".1.0.%1").arg(int(meaning->notice)),
                              {{objects + QStringLiteral("1.0"), 's', e.name},
                               {objects + QStringLiteral("2.0"), 'x', MacHex(e.mac)},
                               {objects + QStringLiteral("3.0"), 's', e.ip},
                               {objects + QStringLiteral("4.0"), 'i', QString::number(RoleNumber(e.role))},
                               {objects + QStringLiteral("5.0"), 'i', QString::number(int(meaning->state))},
                               {objects + QStringLiteral("6.0"), 'i', QString::number(int(meaning->severity))},
                               {objects + QStringLiteral("7.0"), 's', text.left(1024)}}});
    }
    return notifications;
}

std::unique_ptr<SnmpTrapTransport> SnmpTrapTransport::Create(NotifierGroup& group)
{
    SnmpTarget t;
    const QString host = group.text(QStringLiteral("host"), true);
    t.community = group.text(QStringLiteral("community"), false, t.community);
    t.enterprise = group.text(QStringLiteral("enterprise"), false, t.enterprise);
    t.inform = group.flag(QStringLiteral("inform"), false);
    t.timeoutMs = group.millis(QStringLiteral("timeout_s"), 15);
    if (!group.ok())
        return nullptr;
    t.peer = PeerName(host);
    if (t.peer.isEmpty())
        group.refuse(QStringLiteral("host"), QStringLiteral("'%1' is not host[:port]").arg(host));
    static const QRegularExpression kOid(QStringLiteral("^[0-2](\\.(0|[1-9][0-9]{0,8})){1,100}$"));
    if (!kOid.match(t.enterprise).hasMatch())
        group.refuse(QStringLiteral("enterprise"),
                     QStringLiteral("'%1' is not an OID in dotted numbers").arg(t.enterprise));
    for (QChar c : std::as_const(t.community))
        if (c.unicode() < 0x20)
            group.refuse(QStringLiteral("community"), QStringLiteral("holds a control character"));
    if (!group.ok())
        return nullptr;
    return std::unique_ptr<SnmpTrapTransport>(new SnmpTrapTransport(t));
}

SnmpTrapTransport::SnmpTrapTransport(const SnmpTarget& target) : target_(target)
{
    UpTimeTicks(); // sysUpTime counts from the first notifier made
}

SnmpTrapTransport::~SnmpTrapTransport()
{
    // An INFORM in flight ends within its timeout; nothing is sent back from it.
    for (QThread* thread : std::as_const(running_)) {
        thread->disconnect(this);
        thread->wait();
        delete thread;
    }
}

void SnmpTrapTransport::deliver(const NotifyMessage& message)
{
    waiting_.append(message);
    QTimer::singleShot(0, this, &SnmpTrapTransport::startWaiting);
}

void SnmpTrapTransport::startWaiting()
{
    // One message at a time: net-snmp takes one call at a time anyway.
    while (running_.isEmpty() && !waiting_.isEmpty()) {
        const NotifyMessage message = waiting_.takeFirst();
        const QList<Notification> notifications = Notifications(target_.enterprise, message);
        const QString id = message.id;
        if (notifications.isEmpty()) {
            Q_EMIT finished(id,
                            {DeliveryResult::Outcome::Failed,
                             QStringLiteral("no SNMP notification for the event '%1'").arg(message.event)});
            continue;
        }
        auto result = std::make_shared<DeliveryResult>();
        QThread* thread = QThread::create([target = target_, notifications, upTime = UpTimeTicks(), result] {
            *result = Send(target, notifications, upTime);
        });
        thread->setParent(this); // gone with the transport at the latest, ended or not yet deleted
        running_.append(thread);
        connect(thread, &QThread::finished, this, [this, thread, id, result] {
            running_.removeOne(thread);
            thread->deleteLater();
            qCDebug(traceNotify).noquote() << "snmp-trap" << target_.peer << "for" << id << ":" << result->reason;
            Q_EMIT finished(id, *result);
            startWaiting();
        });
        thread->start();
    }
}

} // namespace nms
