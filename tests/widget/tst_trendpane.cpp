// The history pane: a known series of rows drawn as its series (the round trip's band, median
// and losses, the peak band with digital silence at the floor, the down and silent bands, the
// silence threshold), the hover readout, and Export's PNG and CSV. No pixel is compared. With
// NMS_SCREENSHOT=FILE, screenshot() draws a day of a simulated element into FILE for the README.

#include <QAreaSeries>
#include <QChart>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QWidget>
#include <QtTest>

#include <cmath>

#include "status/TrendPane.h"
#include "support/RecordingNotices.h"
#include "support/TempDir.h"
#include "trends/TrendDatabase.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr qint64 kMinute = 60 * 1000;
const QString kKey = QStringLiteral("0011223344AA");
const qint64 kNow = 1796000400000 + 50 * kMinute;

TrendRow Row(int minute, double low, double median, double high, int lost, double peakLow, double peakHigh,
             qint64 downMs, qint64 silentMs)
{
    TrendRow row;
    row.key = kKey;
    row.startMs = kNow - 40 * kMinute + minute * kMinute;
    if (!qIsNaN(median)) {
        row.rttMinMs = low;
        row.rttMedianMs = median;
        row.rttMaxMs = high;
        row.answered = 12 - lost;
    }
    row.lost = lost;
    row.peakMinDbfs = peakLow;
    row.peakMaxDbfs = peakHigh;
    row.downMs = downMs;
    row.silentMs = silentMs;
    row.upMs = kMinute - downMs - silentMs;
    return row;
}

// Every series of the chart with that name.
template <typename Series> QList<Series*> Named(QChart* chart, const QString& name)
{
    QList<Series*> found;
    for (QAbstractSeries* series : chart->series()) {
        if (series->name() == name && qobject_cast<Series*>(series))
            found.append(qobject_cast<Series*>(series));
    }
    return found;
}

QList<double> Ys(const QList<QPointF>& points)
{
    QList<double> ys;
    for (const QPointF& point : points)
        ys.append(point.y());
    return ys;
}

} // namespace

class TestTrendPane : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void drawsTheRows();
    void screenshot();
};

void TestTrendPane::drawsTheRows()
{
    TempDir dir;
    RecordingNotices notices;
    const QString path = dir.file(QStringLiteral("trends.sqlite"));
    // Up with its round trips; a loss; down a whole minute; back; digital silence for half a minute.
    const QList<TrendRow> rows = {
        Row(0, 0.4, 0.5, 0.9, 0, -20.0, -10.0, 0, 0),
        Row(1, 0.3, 0.6, 1.2, 1, -21.0, -11.0, 0, 0),
        Row(2, qQNaN(), qQNaN(), qQNaN(), 12, qQNaN(), qQNaN(), kMinute, 0),
        Row(3, 0.5, 0.7, 0.8, 0, -qInf(), -12.0, 0, 30 * 1000),
    };
    {
        TrendDatabase database(path);
        QVERIFY(database.open(TrendDatabase::Mode::Write));
        QVERIFY(database.write(rows, 60 * kMinute));
    }
    TrendPane pane(path, -50.0, notices);
    pane.setClock([] { return kNow; });
    pane.showElement(kKey, QStringLiteral("TX 1"));
    pane.setSpan(TrendPane::Hour);
    QCOMPARE(pane.rows().size(), 4);

    // The round trip: two runs (the down minute breaks the band), the medians at the minutes' middles.
    const QList<QLineSeries*> medians = Named<QLineSeries>(pane.rttChart, QStringLiteral("median"));
    QCOMPARE(medians.size(), 2);
    QCOMPARE(Ys(medians[0]->points()), QList<double>({0.5, 0.6}));
    QCOMPARE(Ys(medians[1]->points()), QList<double>({0.7}));
    QCOMPARE(medians[1]->points().first().x(), double(rows[3].startMs + kMinute / 2));
    const QList<QAreaSeries*> bands = Named<QAreaSeries>(pane.rttChart, QStringLiteral("min-max"));
    QCOMPARE(bands.size(), 2);
    QCOMPARE(Ys(bands[0]->upperSeries()->points()), QList<double>({0.9, 0.9, 1.2, 1.2}));
    QCOMPARE(Ys(bands[0]->lowerSeries()->points()), QList<double>({0.4, 0.4, 0.3, 0.3}));
    const QList<QScatterSeries*> lost = Named<QScatterSeries>(pane.rttChart, QStringLiteral("lost"));
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost[0]->count(), 2);
    QCOMPARE(lost[0]->at(0).x(), double(rows[1].startMs + kMinute / 2));

    // Down and silent: a band over exactly that minute, behind both charts.
    for (QChart* chart : {pane.rttChart, pane.peakChart}) {
        const QList<QAreaSeries*> down = Named<QAreaSeries>(chart, QStringLiteral("down"));
        QCOMPARE(down.size(), 1);
        QCOMPARE(chart->series().first(), down[0]);
        const QList<QPointF> edge = down[0]->upperSeries()->points();
        QCOMPARE(edge.size(), 6); // from the start, up, across the minute, down, to the end
        QCOMPARE(edge[1].x(), double(rows[2].startMs));
        QCOMPARE(edge[3].x(), double(rows[2].startMs + kMinute));
        QVERIFY(edge[2].y() > edge[0].y());
        const QList<QAreaSeries*> silent = Named<QAreaSeries>(chart, QStringLiteral("silent"));
        QCOMPARE(silent[0]->upperSeries()->points()[1].x(), double(rows[3].startMs));
    }

    // The peak: digital silence drawn at the floor, the threshold across the whole span.
    const QList<QAreaSeries*> peaks = Named<QAreaSeries>(pane.peakChart, QStringLiteral("peak"));
    QCOMPARE(peaks.size(), 2);
    QCOMPARE(Ys(peaks[1]->lowerSeries()->points()), QList<double>({-100.0, -100.0}));
    QCOMPARE(Ys(peaks[1]->upperSeries()->points()), QList<double>({-12.0, -12.0}));
    const QList<QLineSeries*> threshold = Named<QLineSeries>(pane.peakChart, QStringLiteral("silence threshold"));
    QCOMPARE(threshold.size(), 1);
    QCOMPARE(Ys(threshold[0]->points()), QList<double>({-50.0, -50.0}));

    // The readout names what the mouse is over.
    QVERIFY2(pane.readoutAt(rows[2].startMs + 1000).contains(QStringLiteral("12 lost, down 1 min")),
             qPrintable(pane.readoutAt(rows[2].startMs + 1000)));
    QVERIFY(pane.readoutAt(rows[3].startMs).contains(QStringLiteral("peak silence / -12.0 dBFS, silent 30 s")));

    // Export: the picture and the rows, side by side.
    pane.setSavePathPicker([&](QWidget*, const QString&) { return dir.file(QStringLiteral("tx1")); });
    pane.resize(800, 500);
    QVERIFY(pane.exportShown());
    QImage picture(dir.file(QStringLiteral("tx1.png")));
    QVERIFY(!picture.isNull());
    QFile csv(dir.file(QStringLiteral("tx1.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 6); // the header, four rows, the empty rest
    QCOMPARE(lines[0],
             QStringLiteral("time,rtt_min_ms,rtt_median_ms,rtt_max_ms,answered,lost,peak_min_dbfs,"
                            "peak_max_dbfs,down_s,silent_s,up_s"));
    QCOMPARE(lines[1], QStringLiteral("2026-11-30T01:10:00Z,0.400,0.500,0.900,12,0,-20.0,-10.0,0,0,60"));
    QCOMPARE(lines[3], QStringLiteral("2026-11-30T01:12:00Z,,,,0,12,,,60,0,0"));
    // Digital silence: no figure, and the seconds it was silent.
    QCOMPARE(lines[4], QStringLiteral("2026-11-30T01:13:00Z,0.500,0.700,0.800,12,0,,-12.0,0,30,30"));
    QCOMPARE(notices.count(), 0);
}

void TestTrendPane::screenshot()
{
    const QString target = qEnvironmentVariable("NMS_SCREENSHOT");
    if (target.isEmpty())
        QSKIP("NMS_SCREENSHOT names no file");
    TempDir dir;
    RecordingNotices notices;
    const QString path = dir.file(QStringLiteral("trends.sqlite"));
    // A day of an encoder: a round trip creeping up in the evening, a night's drop of 25 minutes
    // with dead air before it, and a level drifting down.
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / kMinute * kMinute;
    QList<TrendRow> day;
    for (int minute = 0; minute < 24 * 60; ++minute) {
        TrendRow row;
        row.key = kKey;
        row.startMs = now - (24 * 60 - minute) * kMinute;
        const double wave = std::sin(minute / 47.0) * 0.08 + std::sin(minute / 7.0) * 0.05;
        const double drift = minute > 900 ? (minute - 900) / 900.0 : 0.0;
        const bool down = minute >= 1100 && minute < 1125;
        const bool silent = minute >= 1085 && minute < 1100;
        if (down) {
            row.lost = 12;
            row.downMs = kMinute;
        } else {
            row.answered = 12;
            row.rttMinMs = 0.35 + drift * 0.3 + wave * 0.5;
            row.rttMedianMs = 0.55 + drift * 0.6 + wave;
            row.rttMaxMs = 0.9 + drift * 1.2 + wave * 2 + (minute % 97 == 0 ? 1.5 : 0);
            row.lost = minute % 211 == 0 ? 1 : 0;
            row.peakMinDbfs = silent ? -qInf() : -24.0 - minute / 160.0 + wave * 20;
            row.peakMaxDbfs = silent ? -72.0 : -9.0 - minute / 200.0 + wave * 10;
            row.silentMs = silent ? kMinute : 0;
            row.upMs = silent ? 0 : kMinute;
        }
        day.append(row);
    }
    {
        TrendDatabase database(path);
        QVERIFY(database.open(TrendDatabase::Mode::Write));
        QVERIFY(database.write(day, 60 * kMinute));
    }
    TrendPane pane(path, -50.0, notices);
    pane.setClock([now] { return now; });
    pane.showElement(kKey, QStringLiteral("STUDIO TX"));
    pane.setSpan(TrendPane::Day);
    pane.readout->setText(pane.readoutAt(now - (24 * 60 - 1110) * kMinute));
    pane.resize(960, 560);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QVERIFY(pane.grab().save(target, "PNG"));
}

QTEST_MAIN(TestTrendPane)
#include "tst_trendpane.moc"
