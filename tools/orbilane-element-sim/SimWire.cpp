#include "SimWire.h"

#include <QStringList>

#include <cmath>
#include <string>
#include <vector>

namespace sim {

QByteArray addressBytes(quint32 address)
{
    QByteArray bytes(4, '\0');
    for (int k = 0; k < 4; ++k)
        bytes[k] = char((address >> (24 - 8 * k)) & 0xFF);
    return bytes;
}

quint32 addressFromBytes(const QByteArray& bytes, int offset)
{
    quint32 address = 0;
    for (int k = 0; k < 4; ++k)
        address = (address << 8) | quint8(bytes.at(offset + k));
    return address;
}

QString addressText(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

std::optional<quint32> parseAddress(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (QChar c : part) {
            if (!c.isDigit() || c.unicode() > '9')
                return std::nullopt;
        }
        const int value = part.toInt();
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | quint32(value);
    }
    return address;
}

std::optional<int> prefixLength(quint32 mask)
{
    int ones = 0;
    while (ones < 32 && (mask & (0x80000000u >> ones)))
        ++ones;
    if (maskFromPrefix(ones) != mask)
        return std::nullopt;
    return ones;
}

quint32 maskFromPrefix(int prefixLength)
{
    if (prefixLength <= 0)
        return 0;
    if (prefixLength >= 32)
        return 0xFFFFFFFFu;
    return ~(0xFFFFFFFFu >> prefixLength);
}

QByteArray fitName(const QString& text)
{
    QByteArray name(kNameLength, ' ');
    for (int k = 0; k < kNameLength && k < text.size(); ++k)
        name[k] = char(text.at(k).unicode() & 0xFF);
    return name;
}

namespace {

// A byte's decimal text: "0", or digits without a leading zero, at most 255.
bool isByteText(const std::string& digits)
{
    if (digits.empty() || digits.size() > 3)
        return false;
    if (digits.size() > 1 && digits.front() == '0')
        return false;
    return std::stoi(digits) <= 255;
}

// Splits `digits` exactly into `groups` byte texts, shortest first groups first.
bool split(const std::string& digits, int groups, std::vector<quint8>& out)
{
    if (groups == 0)
        return digits.empty();
    for (std::size_t width = 1; width <= 3 && width <= digits.size(); ++width) {
        const std::string head = digits.substr(0, width);
        if (!isByteText(head))
            continue;
        out.push_back(quint8(std::stoi(head)));
        if (split(digits.substr(width), groups - 1, out))
            return true;
        out.pop_back();
    }
    return false;
}

} // namespace

std::optional<SerialGroups> serialGroups(quint64 serial)
{
    const std::string digits = std::to_string(serial);
    if (digits.size() > 12)
        return std::nullopt;
    // Leading zero groups only add leading zeros to the joined text: most of them first,
    // so small numbers come out as 00 00 00 NN.
    for (int zeros = 3; zeros >= 0; --zeros) {
        std::vector<quint8> groups(std::size_t(zeros), 0);
        if (split(digits, 4 - zeros, groups))
            return SerialGroups {groups[0], groups[1], groups[2], groups[3]};
    }
    return std::nullopt;
}

QByteArray feedback(const FeedbackContent& content)
{
    const ElementConfig& c = content.config;
    QByteArray bytes;
    bytes.reserve(kFeedbackLong);
    bytes += addressBytes(c.ip);
    bytes += addressBytes(c.mask);
    bytes += addressBytes(c.gateway);
    bytes += addressBytes(c.remote);
    bytes += char(c.input);
    bytes += char(c.type);
    bytes += char(c.tx);
    bytes += c.name.left(kNameLength).leftJustified(kNameLength, ' ');
    bytes += char(content.role);
    for (quint8 group : content.serial)
        bytes += char(group);
    if (content.length == kFeedbackLong)
        bytes += char(content.attenuation);
    return bytes;
}

std::optional<ElementConfig> parseConfigWrite(const QByteArray& datagram)
{
    if (datagram.size() != kConfigWriteLength)
        return std::nullopt;
    ElementConfig c;
    c.ip = addressFromBytes(datagram, 0);
    c.mask = addressFromBytes(datagram, 4);
    c.gateway = addressFromBytes(datagram, 8);
    c.remote = addressFromBytes(datagram, 12);
    c.input = quint8(datagram.at(16));
    c.type = quint8(datagram.at(17));
    c.tx = quint8(datagram.at(18));
    c.name = datagram.mid(19, kNameLength);
    return c;
}

QByteArray levelSamples(qint32 peak)
{
    constexpr int period = 48; // 1 kHz at 48 kHz: 10 whole cycles, the same every query
    constexpr int crest = 12; // sin = +1
    constexpr int trough = 36; // sin = -1
    // The console takes a negative sample s as magnitude -s - 1. A negative peak therefore
    // rides on a sine one step quieter, so that no other sample beats it.
    const qint32 amplitude = peak >= 0 ? peak : -(peak + 1);
    QByteArray bytes;
    bytes.reserve(kLevelSamplesLength);
    for (int k = 0; k < kLevelSampleCount; ++k) {
        const int phase = k % period;
        qint32 sample = qint32(std::lround(amplitude * std::sin(2.0 * M_PI * phase / period)));
        if (phase == crest)
            sample = amplitude;
        if (phase == trough)
            sample = peak >= 0 ? -amplitude : peak;
        const quint32 raw = quint32(sample) & 0xFFFFFF;
        bytes += char(raw >> 16);
        bytes += char((raw >> 8) & 0xFF);
        bytes += char(raw & 0xFF);
    }
    return bytes;
}

std::optional<qint32> peakForDbfs(double dbfs)
{
    if (!(dbfs <= 0.0))
        return std::nullopt;
    return qint32(std::lround(kFullScale * std::pow(10.0, dbfs / 20.0)));
}

} // namespace sim
