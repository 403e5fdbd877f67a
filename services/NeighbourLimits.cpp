#include "services/NeighbourLimits.h"

#include <QFile>

namespace nms {

namespace {

int ReadNumber(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int value = file.readAll().trimmed().toInt(&ok);
    return ok ? value : -1;
}

} // namespace

NeighbourLimits ReadNeighbourLimits(const QString& folder)
{
    return {ReadNumber(folder + QStringLiteral("/gc_thresh1")), ReadNumber(folder + QStringLiteral("/gc_thresh2")),
            ReadNumber(folder + QStringLiteral("/gc_thresh3"))};
}

bool NearNeighbourLimit(int watched, const NeighbourLimits& limits)
{
    return limits.thresh2 > 0 && watched >= limits.thresh2 - limits.thresh2 / 4;
}

} // namespace nms
