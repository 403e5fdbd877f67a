#pragma once
// How the monitor of every element watches: how often it probes and asks for levels, and when it
// calls an element down or its audio silent. Kept in the user's configuration file, apart from
// nms.ini, which holds only what the elements report.

#include <QString>
#include <QtGlobal>

#include "base/Notices.h"

namespace nms {

struct MonitorSettings {
    int presencePeriodMs = 5000; // every element is probed once per period, spread evenly
    int missesForDown = 3; // consecutive unanswered probes before an element is down
    int audioPeriodMs = 1000; // one LevelQuery per encoder per period, spread evenly
    double silenceDbfs = -50.0; // peaks below this are silence
    int silenceMs = 10000; // silent after this long below the threshold
    int audioBackMs = 2000; // audio back after this long at or above it
    bool watchAudio = true;
    // Where GET /metrics answers for Prometheus ("127.0.0.1:29760"); port 0: no metrics.
    QString metricsAddress;
    quint16 metricsPort = 0;

    bool operator==(const MonitorSettings&) const = default;

    // The group [monitor] of the file at `path` (presence_period_ms, misses_for_down,
    // audio_period_ms, silence_dbfs, silence_ms, audio_back_ms, watch_audio, metrics_listen as
    // ADDRESS:PORT or [IPv6]:PORT). A missing file
    // gives the defaults silently. A file that cannot be read, or values that are not numbers
    // or are out of range, give the default for each such value and one notice for the file.
    static MonitorSettings Load(const QString& path, Notices& notices);

    // $XDG_CONFIG_HOME/orbilane-nms/orbilane-nms.conf
    static QString DefaultPath();
};

} // namespace nms
