#include "micro/BenchDatabase.h"

#include <QFile>
#include <QSaveFile>

#include <cmath>

namespace nms::bench {

QString BenchKey(int i)
{
    return QStringLiteral("0200000%1").arg(i + 1, 5, 16, QLatin1Char('0')).toUpper();
}

QString BenchIp(int i)
{
    return QStringLiteral("10.77.%1.%2").arg(1 + i / 250).arg(1 + i % 250);
}

QString BenchName(int i)
{
    return QStringLiteral("ELEMENT %1").arg(i + 1);
}

QByteArray BenchDatabaseText(int count)
{
    QByteArray text;
    text.reserve(qsizetype(count) * 190);
    for (int i = 0; i < count; ++i) {
        const bool decoder = i % 3 == 2;
        text += '[' + BenchKey(i).toLatin1() + "]\n";
        text += "NAME=" + BenchName(i).leftJustified(16, u' ').toLatin1() + '\n';
        text += "IP=" + BenchIp(i).toLatin1() + '\n';
        text += "MASK=255.255.0.0\nGW=10.77.0.254\nREMOTE=10.77.0.2\nINPUT=0\nTYPE=1\nTX=0\n";
        text += decoder ? "ROLE=2\n" : "ROLE=1\n";
        text += "SN=" + QByteArray::number(i % 255 + 1) + '\n';
        if (decoder)
            text += "ATT=200\n";
    }
    return text;
}

bool WriteBenchDatabase(const QString& path, int count)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(BenchDatabaseText(count));
    return file.commit();
}

QByteArray BenchLevelSamples(qint32 peak)
{
    QByteArray out(1440, '\0');
    for (int i = 0; i < 480; ++i) {
        // 48 samples per period; the loudest one (at i = 12 + 48k) never sits in the last triple.
        const double phase = 2.0 * M_PI * (i % 48) / 48.0;
        const qint32 sample = qint32(std::lround(peak * std::sin(phase)));
        const quint32 bits = quint32(sample) & 0xFFFFFF;
        out[i * 3] = char(bits >> 16);
        out[i * 3 + 1] = char(bits >> 8);
        out[i * 3 + 2] = char(bits);
    }
    return out;
}

} // namespace nms::bench
