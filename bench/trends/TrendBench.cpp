// The history's figures: the file's growth per day at 1,000 elements (a simulated day of minute
// rows written batch by batch, as the writer thread writes them) and the cost of one minute's
// batch; drawing a week of one element in the status window's pane; and orbilanectl history
// --since 30d --csv of one element in a file holding 30 days of 1,000 elements' minutes.
//
//   nms_trends_bench [--elements N] [--days D] [--ctl PATH] [--runs R]

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "micro/BenchDatabase.h"
#include "status/TrendPane.h"
#include "support/RecordingNotices.h"
#include "trends/TrendDatabase.h"

using namespace nms;

namespace {

constexpr qint64 kMinute = 60 * 1000;

// One minute of an element as the monitor makes it: twelve echoes, sixty peaks, up.
TrendRow Minute(int element, qint64 start)
{
    TrendRow row;
    row.key = bench::BenchKey(element);
    row.startMs = start;
    const double wave = std::sin(double(start / kMinute + element) / 37.0);
    row.answered = 12;
    row.rttMinMs = 0.3 + 0.05 * wave;
    row.rttMedianMs = 0.5 + 0.1 * wave;
    row.rttMaxMs = 0.9 + 0.2 * wave;
    row.lost = (start / kMinute + element) % 300 == 0;
    if (element % 3 != 2) {
        row.peakMinDbfs = -30 + 5 * wave;
        row.peakMaxDbfs = -10 + 3 * wave;
    }
    row.upMs = kMinute;
    return row;
}

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

qint64 FileBytes(const QString& path)
{
    qint64 bytes = 0;
    for (const QString& suffix : {QString(), QStringLiteral("-wal")})
        bytes += QFileInfo(path + suffix).size();
    return bytes;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"elements", "Elements written.", "n", "1000"},
                       {"minutes", "Minutes of all elements written for the growth (1440: a day).", "m", "1440"},
                       {"ctl", "orbilanectl to time.", "path"},
                       {"runs", "Runs per timed figure.", "r", "5"},
                       {"keep", "Write the files into this folder and keep them.", "folder"}});
    parser.process(app);
    const int elements = parser.value("elements").toInt();
    const int minutes = parser.value("minutes").toInt();
    const int runs = parser.value("runs").toInt();
    QTemporaryDir temporary;
    const QDir dir(parser.isSet("keep") ? parser.value("keep") : temporary.path());
    const QString path = dir.filePath(QStringLiteral("trends.sqlite"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / kMinute * kMinute;

    // Growth: minute after minute, each a transaction of every element's row (and its hour).
    {
        TrendDatabase database(path);
        if (!database.open(TrendDatabase::Mode::Write))
            return 1;
        QList<double> batchMs;
        const qint64 start = now - qint64(minutes) * kMinute;
        for (int minute = 0; minute < minutes; ++minute) {
            QList<TrendRow> rows;
            rows.reserve(elements);
            for (int element = 0; element < elements; ++element)
                rows.append(Minute(element, start + minute * kMinute));
            QElapsedTimer took;
            took.start();
            database.write(rows, 60 * kMinute);
            batchMs.append(took.nsecsElapsed() / 1e6);
        }
        database.close();
        const double bytes = FileBytes(path);
        std::printf("history file: %d elements x %d minutes: %.1f MB, %.1f MB per day, %.1f bytes per minute row\n",
                    elements, minutes, bytes / 1e6, bytes / 1e6 * 1440.0 / minutes,
                    bytes / (double(elements) * minutes));
        std::printf("one minute's batch of %d rows: median %.1f ms, max %.1f ms\n", elements, Median(batchMs),
                    *std::max_element(batchMs.begin(), batchMs.end()));
    }

    // A week of one element (its own file, so that the figure is the drawing's).
    {
        const QString weekPath = dir.filePath(QStringLiteral("week.sqlite"));
        TrendDatabase database(weekPath);
        database.open(TrendDatabase::Mode::Write);
        QList<TrendRow> rows;
        for (int minute = 7 * 24 * 60; minute > 0; --minute)
            rows.append(Minute(0, now - minute * kMinute));
        database.write(rows, 60 * kMinute);
        database.close();
        {
            QElapsedTimer took;
            took.start();
            TrendDatabase reader(weekPath);
            reader.open(TrendDatabase::Mode::Read);
            const qint64 opened = took.nsecsElapsed();
            const int count = int(reader.read(bench::BenchKey(0), now - 7 * 24 * 60 * kMinute, now + 1, false).size());
            std::printf("a week of one element read (%d minute rows): %.1f ms, of which opening %.1f ms\n", count,
                        took.nsecsElapsed() / 1e6, opened / 1e6);
        }
        test::RecordingNotices notices;
        TrendPane pane(weekPath, -50, notices);
        pane.setClock([now] { return now; });
        pane.resize(960, 560);
        pane.setSpan(TrendPane::Week);
        pane.show();
        QList<double> drawMs, built;
        for (int run = 0; run < runs; ++run) {
            pane.showElement(QString(), QString());
            QElapsedTimer took;
            took.start();
            pane.showElement(bench::BenchKey(0), QStringLiteral("TX"));
            built.append(took.nsecsElapsed() / 1e6);
            const QPixmap drawn = pane.grab(); // read, built and painted
            drawMs.append(took.nsecsElapsed() / 1e6);
        }
        std::printf("a week of one element drawn (read, 1,008 points, painted at 960 x 560): median %.1f ms, of which "
                    "read and built %.1f ms\n",
                    Median(drawMs), Median(built));
    }

    // orbilanectl history --since 30d --csv of one element in 30 days of 1,000 elements.
    if (parser.isSet("ctl")) {
        const QString base = dir.filePath(QStringLiteral("ctl"));
        QDir().mkpath(base);
        const QString ini = base + QStringLiteral("/nms.ini");
        bench::WriteBenchDatabase(ini, elements);
        TrendDatabase database(TrendDatabase::PathBeside(ini));
        database.open(TrendDatabase::Mode::Write);
        // The element asked for has all its 30 days; the others --minutes each, for the file's
        // size and the table's depth (the element's rows are one range of the key whatever the rest).
        QList<TrendRow> rows;
        for (int minute = 30 * 24 * 60; minute > 0; --minute)
            rows.append(Minute(elements / 2, now - minute * kMinute));
        database.write(rows, 60 * kMinute);
        for (int minute = minutes; minute > 0; --minute) {
            rows.clear();
            for (int element = 0; element < elements; ++element)
                rows.append(Minute(element, now - minute * kMinute));
            database.write(rows, 60 * kMinute);
        }
        database.close();
        QList<double> wall;
        qint64 lines = 0;
        for (int run = 0; run < runs; ++run) {
            QProcess ctl;
            QElapsedTimer took;
            took.start();
            ctl.start(parser.value("ctl"),
                      {"history", bench::BenchKey(elements / 2), "--since", "30d", "--csv", "--database", ini});
            ctl.waitForFinished(60000);
            wall.append(took.nsecsElapsed() / 1e6);
            lines = ctl.readAllStandardOutput().count('\n');
        }
        std::printf("orbilanectl history --since 30d --csv (one of %d elements, %lld lines, file %.0f MB): median "
                    "%.0f ms\n",
                    elements, lines, FileBytes(TrendDatabase::PathBeside(ini)) / 1e6, Median(wall));
    }
    return 0;
}
