#include "monitor/MonitorSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace nms {

namespace {

const QChar CR(u'\r');
constexpr int kHourMs = 60 * 60 * 1000;

// Reads the values of one group, each into its field when it is usable, and collects a line
// for every one that is not.
class GroupReader {
public:
    explicit GroupReader(const QSettings& settings) : settings_(settings) { }

    void readInt(const char* key, int* value, int low, int high)
    {
        QString text;
        if (!read(key, &text))
            return;
        bool ok = false;
        const int read = text.toInt(&ok);
        if (ok && read >= low && read <= high)
            *value = read;
        else
            reject(key, text, QStringLiteral("a whole number from %1 to %2").arg(low).arg(high),
                   QString::number(*value));
    }

    void readDouble(const char* key, double* value, double low, double high)
    {
        QString text;
        if (!read(key, &text))
            return;
        bool ok = false;
        const double read = text.toDouble(&ok);
        // Written so that "nan", which toDouble accepts, fails the range as well.
        if (ok && read >= low && read <= high)
            *value = read;
        else
            reject(key, text, QStringLiteral("a number from %1 to %2").arg(low).arg(high), QString::number(*value));
    }

    void readBool(const char* key, bool* value)
    {
        QString text;
        if (!read(key, &text))
            return;
        const QString word = text.toLower();
        if (word == u"true" || word == u"yes" || word == u"on" || word == u"1")
            *value = true;
        else if (word == u"false" || word == u"no" || word == u"off" || word == u"0")
            *value = false;
        else
            reject(key, text, QStringLiteral("true or false"),
                   *value ? QStringLiteral("true") : QStringLiteral("false"));
    }

    // ADDRESS:PORT, an IPv6 address in brackets; the address a literal, the port 1-65535.
    void readListen(const char* key, QString* address, quint16* port)
    {
        QString text;
        if (!read(key, &text) || text.isEmpty())
            return;
        const int colon = text.lastIndexOf(u':');
        QString host = text.left(colon);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const uint number = colon > 0 ? text.mid(colon + 1).toUInt(&ok) : 0;
        QHostAddress parsed;
        if (ok && number >= 1 && number <= 65535 && parsed.setAddress(host)
            && (parsed.protocol() == QAbstractSocket::IPv4Protocol || text.startsWith(u'['))) {
            *address = parsed.toString();
            *port = quint16(number);
        } else {
            reject(key, text, QStringLiteral("an address and port such as 127.0.0.1:29760"),
                   QStringLiteral("no metrics"));
        }
    }

    const QStringList& problems() const { return problems_; }

private:
    // False for a key that is not there: its default, silently.
    bool read(const char* key, QString* text) const
    {
        const QVariant value = settings_.value(QLatin1String(key));
        if (!value.isValid())
            return false;
        // An unquoted comma makes the value a list.
        *text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                         : value.toString().trimmed();
        return true;
    }

    void reject(const char* key, const QString& text, const QString& wanted, const QString& fallback)
    {
        problems_.append(
            QStringLiteral("%1 = '%2' is not %3; %4 is used.").arg(QLatin1String(key), text, wanted, fallback));
    }

    const QSettings& settings_;
    QStringList problems_;
};

} // namespace

MonitorSettings MonitorSettings::Load(const QString& path, Notices& notices)
{
    MonitorSettings result;
    if (!QFileInfo::exists(path))
        return result;
    const QString title = QStringLiteral("Monitor settings");
    const QString unread =
        QStringLiteral("The monitor settings (%1) could not be read; the defaults are used.").arg(path);
    // Opened first for the system's reason when it cannot be, which QSettings does not give.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        notices.error(title, unread + CR + file.errorString());
        return result;
    }
    file.close();
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        notices.error(title,
                      unread + CR
                          + (settings.status() == QSettings::FormatError
                                 ? QStringLiteral("It is not a settings file of [group] headers and key=value lines.")
                                 : QStringLiteral("It could not be read.")));
        return result;
    }

    settings.beginGroup(QStringLiteral("monitor"));
    GroupReader reader(settings);
    reader.readInt("presence_period_ms", &result.presencePeriodMs, 100, kHourMs);
    reader.readInt("misses_for_down", &result.missesForDown, 1, 100);
    reader.readInt("audio_period_ms", &result.audioPeriodMs, 100, kHourMs);
    reader.readDouble("silence_dbfs", &result.silenceDbfs, -150.0, 0.0);
    reader.readInt("silence_ms", &result.silenceMs, 0, kHourMs);
    reader.readInt("audio_back_ms", &result.audioBackMs, 0, kHourMs);
    reader.readBool("watch_audio", &result.watchAudio);
    reader.readListen("metrics_listen", &result.metricsAddress, &result.metricsPort);
    if (!reader.problems().isEmpty()) {
        notices.error(title,
                      QStringLiteral("The monitor settings (%1) hold values that cannot be used:").arg(path) + CR
                          + reader.problems().join(CR));
    }
    return result;
}

QString MonitorSettings::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/orbilane-nms/orbilane-nms.conf");
}

} // namespace nms
