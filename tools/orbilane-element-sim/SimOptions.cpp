#include "SimOptions.h"

#include <QStringList>

#include <charconv>
#include <cmath>

namespace sim {

int SimOptions::effectiveFeedbackLength() const
{
    if (feedbackLength != 0)
        return feedbackLength;
    return role == 2 ? kFeedbackLong : kFeedbackShort;
}

namespace {

using Opt = QCommandLineOption;

const QList<Opt>& optionList()
{
    static const QList<Opt> options {
        Opt(QStringLiteral("role"), QStringLiteral("Role: encoder (1), decoder (2) or 0 (neither). Default encoder."),
            QStringLiteral("role"), QStringLiteral("encoder")),
        Opt(QStringLiteral("name"),
            QStringLiteral("Element name, held as 16 bytes padded with blanks (longer is cut). Default SIM ELEMENT."),
            QStringLiteral("text"), QStringLiteral("SIM ELEMENT")),
        Opt(QStringLiteral("serial"),
            QStringLiteral("Serial number N, sent in bytes 36-39 so that their decimal texts joined read N (42: 00 00 "
                           "00 2A, 1255: 00 00 01 FF). Default 1."),
            QStringLiteral("N"), QStringLiteral("1")),
        Opt(QStringLiteral("mask"), QStringLiteral("Network mask reported. Default: the interface's own."),
            QStringLiteral("A.B.C.D")),
        Opt(QStringLiteral("gateway"), QStringLiteral("Gateway reported. Default 0.0.0.0."), QStringLiteral("A.B.C.D"),
            QStringLiteral("0.0.0.0")),
        Opt(QStringLiteral("remote"), QStringLiteral("Remote peer address reported. Default 0.0.0.0."),
            QStringLiteral("A.B.C.D"), QStringLiteral("0.0.0.0")),
        Opt(QStringLiteral("input"),
            QStringLiteral("Audio input byte: 0 Digital, 1 Analog (any byte for fault tests). Default 0."),
            QStringLiteral("0|1"), QStringLiteral("0")),
        Opt(QStringLiteral("type"), QStringLiteral("Audio type byte: 0 Left/Right, 1 MPX. Default 0."),
            QStringLiteral("0|1"), QStringLiteral("0")),
        Opt(QStringLiteral("tx"), QStringLiteral("TX type byte: 0 Unicast, 1 Multicast. Default 0."),
            QStringLiteral("0|1"), QStringLiteral("0")),
        Opt(QStringLiteral("atten"),
            QStringLiteral("Attenuation code reported in byte 40 (14 mute, 255 0 dB). Default 255."),
            QStringLiteral("N"), QStringLiteral("255")),
        Opt(QStringLiteral("feedback-length"),
            QStringLiteral(
                "Feedback length, 40 or 41 (41 adds the attenuation). Default 41 for a decoder, 40 otherwise."),
            QStringLiteral("40|41")),
        Opt(QStringLiteral("interface"),
            QStringLiteral("Interface whose IPv4 address the element has and moves. Default eth0."),
            QStringLiteral("name"), QStringLiteral("eth0")),
        Opt(QStringLiteral("log"),
            QStringLiteral("Log every datagram in and out to FILE, one flushed line each (- for standard output)."),
            QStringLiteral("FILE")),
        Opt(QStringLiteral("control"),
            QStringLiteral("Make a FIFO at PATH (removed on exit) that takes the lines down, up, silent and sound, "
                           "each for every element or, followed by I, for element I alone."),
            QStringLiteral("PATH")),
        Opt(QStringLiteral("level-dbfs"), QStringLiteral("Level answers carry a sine at X dBFS (X <= 0). Default -12."),
            QStringLiteral("X")),
        Opt(QStringLiteral("level-peak"),
            QStringLiteral("Level answers carry a sine whose loudest sample is exactly N (-8388608..8388607; 4194304 "
                           "is 40 00 00)."),
            QStringLiteral("N")),
        Opt(QStringLiteral("level-silence"), QStringLiteral("Level answers carry silence (all samples 0).")),
        Opt(QStringLiteral("no-answer"), QStringLiteral("Fault: receive, log and apply, but never answer.")),
        Opt(QStringLiteral("short-reply"),
            QStringLiteral("Fault: answer a ConfigWrite with a 3-byte ShortReply only (the change is still applied).")),
        Opt(QStringLiteral("delay-ms"), QStringLiteral("Fault: send every answer N ms late."), QStringLiteral("N")),
        Opt(QStringLiteral("report-ip"), QStringLiteral("Fault: report this address instead of the real one."),
            QStringLiteral("A.B.C.D")),
        Opt(QStringLiteral("report-name"), QStringLiteral("Fault: report this name instead of the one held."),
            QStringLiteral("text")),
        Opt(QStringLiteral("role-byte"),
            QStringLiteral("Fault: raw role byte 0-255 (3 and above are invalid), overrides --role."),
            QStringLiteral("N")),
        Opt(QStringLiteral("serial-bytes"),
            QStringLiteral("Fault: raw bytes 36-39, e.g. 0,0,0,0 or 0,0,1,255 (0x.. allowed), overrides --serial."),
            QStringLiteral("AA,BB,CC,DD")),
        Opt(QStringLiteral("ignore-config-fields"),
            QStringLiteral("Fault: answer a ConfigWrite with the old values, applying nothing.")),
        Opt(QStringLiteral("elements"),
            QStringLiteral("Play N elements (1-2000) from this process: element I on interface <interface>I "
                           "(--interface ev: ev1..evN), "
                           "its sockets bound to that interface, named \"<name> I\", serial ((I-1) mod 255)+1; implies "
                           "--keep-address."),
            QStringLiteral("N")),
        Opt(QStringLiteral("keep-address"),
            QStringLiteral("Never move the interface's address on a ConfigWrite; only report the new one.")),
        Opt(QStringLiteral("move-host-address"),
            QStringLiteral("Move the address even in the machine's own network namespace (by default only an element "
                           "in a namespace of its own moves).")),
        Opt(QStringLiteral("paging-port"), QStringLiteral("Port that takes the paging broadcast. Default 1901."),
            QStringLiteral("port"), QStringLiteral("1901")),
        Opt(QStringLiteral("config-port"),
            QStringLiteral("Port that takes ConfigWrite and sends every answer. Default 2976."), QStringLiteral("port"),
            QStringLiteral("2976")),
        Opt(QStringLiteral("command-port"),
            QStringLiteral("Port that takes attenuation and level queries. Default 2977."), QStringLiteral("port"),
            QStringLiteral("2977")),
        Opt(QStringLiteral("reply-port"), QStringLiteral("Port of the console that answers go to. Default 2976."),
            QStringLiteral("port"), QStringLiteral("2976")),
    };
    return options;
}

// Reads an unsigned number (decimal, or hexadecimal with 0x) within [low, high].
bool readNumber(const QString& text, qint64 low, qint64 high, qint64* value)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const qint64 number = trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
        ? trimmed.mid(2).toLongLong(&ok, 16)
        : trimmed.toLongLong(&ok, 10);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

// A decimal number such as -6 or -0.5, in the C locale whatever the user's is.
std::optional<double> readDecimal(const QString& text)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    double value = 0;
    const char* last = bytes.constData() + bytes.size();
    const auto [end, status] = std::from_chars(bytes.constData(), last, value);
    if (bytes.isEmpty() || status != std::errc() || end != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

class Reader {
public:
    Reader(const QCommandLineParser& parser, QString* error) : m_parser(parser), m_error(error) { }

    bool failed() const { return m_failed; }
    bool isSet(const char* name) const { return m_parser.isSet(QLatin1String(name)); }
    QString text(const char* name) const { return m_parser.value(QLatin1String(name)); }

    qint64 number(const char* name, qint64 low, qint64 high)
    {
        qint64 value = 0;
        if (!readNumber(text(name), low, high, &value))
            fail(QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                     .arg(QLatin1String(name))
                     .arg(low)
                     .arg(high)
                     .arg(text(name)));
        return value;
    }

    quint32 address(const char* name)
    {
        const std::optional<quint32> address = parseAddress(text(name));
        if (!address)
            fail(QStringLiteral("--%1 wants a dotted quad such as 10.77.0.1, not \"%2\"")
                     .arg(QLatin1String(name), text(name)));
        return address.value_or(0);
    }

    void fail(const QString& message)
    {
        if (!m_failed && m_error)
            *m_error = message;
        m_failed = true;
    }

private:
    const QCommandLineParser& m_parser;
    QString* m_error;
    bool m_failed = false;
};

quint8 readRole(Reader& in)
{
    const QString role = in.text("role").toLower();
    if (role == QLatin1String("encoder") || role == QLatin1String("1"))
        return 1;
    if (role == QLatin1String("decoder") || role == QLatin1String("2"))
        return 2;
    if (role == QLatin1String("0") || role == QLatin1String("none"))
        return 0;
    in.fail(QStringLiteral("--role wants encoder, decoder, 0, 1 or 2, not \"%1\"").arg(role));
    return 0;
}

void readSerial(Reader& in, SimOptions& o)
{
    if (in.isSet("serial-bytes")) {
        const QStringList parts = in.text("serial-bytes").split(QLatin1Char(','));
        qint64 value = 0;
        if (parts.size() != 4) {
            in.fail(QStringLiteral("--serial-bytes wants four bytes such as 0,0,1,255"));
            return;
        }
        for (int k = 0; k < 4; ++k) {
            if (!readNumber(parts.at(k), 0, 255, &value)) {
                in.fail(QStringLiteral("--serial-bytes: \"%1\" is not a byte").arg(parts.at(k)));
                return;
            }
            o.serial[std::size_t(k)] = quint8(value);
        }
        return;
    }
    const qint64 serial = in.number("serial", 0, 999999999999LL);
    if (in.failed())
        return;
    const std::optional<SerialGroups> groups = serialGroups(quint64(serial));
    if (!groups) {
        in.fail(QStringLiteral("--serial %1 cannot be spelled by four byte texts; give --serial-bytes").arg(serial));
        return;
    }
    o.serial = *groups;
}

void readLevel(Reader& in, SimOptions& o)
{
    const int chosen = int(in.isSet("level-dbfs")) + int(in.isSet("level-peak")) + int(in.isSet("level-silence"));
    if (chosen > 1) {
        in.fail(QStringLiteral("give only one of --level-dbfs, --level-peak, --level-silence"));
        return;
    }
    if (in.isSet("level-silence")) {
        o.levelPeak = 0;
    } else if (in.isSet("level-peak")) {
        o.levelPeak = qint32(in.number("level-peak", -8388608, kFullScale));
    } else {
        const std::optional<double> dbfs = in.isSet("level-dbfs") ? readDecimal(in.text("level-dbfs")) : -12.0;
        const std::optional<qint32> peak = dbfs ? peakForDbfs(*dbfs) : std::nullopt;
        if (!peak)
            in.fail(
                QStringLiteral("--level-dbfs wants a number of dB not above 0, not \"%1\"").arg(in.text("level-dbfs")));
        o.levelPeak = peak.value_or(0);
    }
}

void readPorts(Reader& in, SimOptions& o)
{
    o.pagingPort = quint16(in.number("paging-port", 1, 65535));
    o.configPort = quint16(in.number("config-port", 1, 65535));
    o.commandPort = quint16(in.number("command-port", 1, 65535));
    o.replyPort = quint16(in.number("reply-port", 1, 65535));
    if (o.pagingPort == o.configPort || o.pagingPort == o.commandPort || o.configPort == o.commandPort)
        in.fail(QStringLiteral("the paging, config and command ports must differ"));
}

} // namespace

SimOptions elementOptions(const SimOptions& shared, int i)
{
    SimOptions o = shared;
    o.elements = 0;
    o.interfaceName = shared.interfaceName + QString::number(i);
    o.bindToInterface = true;
    o.keepAddress = true;
    o.name = (shared.name.trimmed() + ' ' + QByteArray::number(i)).leftJustified(16, ' ', true);
    o.serial = SerialGroups {0, 0, 0, quint8((i - 1) % 255 + 1)};
    return o;
}

void declareOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Stand-in for one Network Element (encoder or decoder) of the STL link.\n"
                       "Answers paging on UDP 1901 and ConfigWrite on 2976 with its ElementFeedback, takes\n"
                       "attenuation and level queries on 2977, and answers from port 2976 to the sender's\n"
                       "port 2976. Prints READY once its sockets are bound; SIGTERM or SIGINT end it.\n"
                       "SIGUSR1 takes every element off the network (its interface down, in a namespace of\n"
                       "its own) or back on; SIGUSR2 silences its level answers or gives their sound back.\n"
                       "Each change prints a line: DOWN I, UP I, SILENT I or SOUND I."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(optionList());
}

std::optional<SimOptions> readOptions(const QCommandLineParser& parser, QString* error)
{
    Reader in(parser, error);
    SimOptions o;
    if (!parser.positionalArguments().isEmpty())
        in.fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    o.role = in.isSet("role-byte") ? quint8(in.number("role-byte", 0, 255)) : readRole(in);
    o.name = fitName(in.text("name"));
    readSerial(in, o);
    if (in.isSet("mask"))
        o.mask = in.address("mask");
    o.gateway = in.address("gateway");
    o.remote = in.address("remote");
    o.input = quint8(in.number("input", 0, 255));
    o.type = quint8(in.number("type", 0, 255));
    o.tx = quint8(in.number("tx", 0, 255));
    o.attenuation = quint8(in.number("atten", 0, 255));
    if (in.isSet("feedback-length")) {
        o.feedbackLength = int(in.number("feedback-length", kFeedbackShort, kFeedbackLong));
    }
    o.interfaceName = in.text("interface");
    o.logFile = in.text("log");
    o.controlPath = in.text("control");
    readLevel(in, o);

    o.noAnswer = in.isSet("no-answer");
    o.shortReply = in.isSet("short-reply");
    if (in.isSet("delay-ms"))
        o.delayMs = int(in.number("delay-ms", 0, 600000));
    if (in.isSet("report-ip"))
        o.reportIp = in.address("report-ip");
    if (in.isSet("report-name"))
        o.reportName = fitName(in.text("report-name"));
    o.ignoreConfigFields = in.isSet("ignore-config-fields");
    o.keepAddress = in.isSet("keep-address");
    o.moveHostAddress = in.isSet("move-host-address");
    if (in.isSet("elements"))
        o.elements = int(in.number("elements", 1, 2000));
    readPorts(in, o);

    if (in.failed())
        return std::nullopt;
    return o;
}

} // namespace sim
