#pragma once
// How the monitor watches: its periods and thresholds, read from the user's settings file.

#include <QString>

namespace nms {

class Notices;

struct MonitorSettings {
    int presencePeriodMs = 5000; // every element is probed once per period, spread evenly
    int missesForDown = 3; // consecutive unanswered probes before an element is down
    int audioPeriodMs = 1000; // one LevelQuery per encoder per period, spread evenly
    double silenceDbfs = -50.0; // peaks below this are silence
    int silenceMs = 10000; // silent after this long below the threshold
    int audioBackMs = 2000; // audio back after this long at or above it
    bool watchAudio = true;

    static MonitorSettings Load(const QString& path, Notices& notices);
    static QString DefaultPath();
};

} // namespace nms
