#include "status/TrendPane.h"

#include <QAreaSeries>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScatterSeries>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>

#include "base/Duration.h"
#include "base/Notices.h"
#include "trends/TrendDatabase.h"

namespace nms {

namespace {

constexpr qint64 kHourMs = 60 * 60 * 1000;
constexpr double kPeakFloor = -100.0; // where digital silence is drawn

const QColor kDown(204, 32, 32, 70);
const QColor kSilent(255, 192, 0, 90);
const QColor kBand(52, 101, 164, 110);
const QColor kLine(32, 74, 135);
const QColor kPeakBand(78, 154, 6, 120);

// Moves the mouse's place over a chart out as a time.
class HoverView final : public QChartView {
public:
    HoverView(QChart* chart, std::function<void(qint64)> hovered) : QChartView(chart), hovered_(std::move(hovered))
    {
        setRenderHint(QPainter::Antialiasing);
        setMouseTracking(true);
    }

protected:
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (chart()->plotArea().contains(event->position()))
            hovered_(qint64(chart()->mapToValue(event->position()).x()));
        QChartView::mouseMoveEvent(event);
    }

private:
    std::function<void(qint64)> hovered_;
};

QString AskSavePath(QWidget* parent, const QString& suggested)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export history"), suggested,
                                        QStringLiteral("PNG pictures (*.png)"));
}

QString Ms(double value)
{
    return QString::number(value, 'f', value < 10 ? 2 : 1);
}

QString Dbfs(double value)
{
    return std::isfinite(value) ? QString::number(value, 'f', 1) : QStringLiteral("silence");
}

// Rectangles from the base to the top over every row where `share` is above zero. Points are
// handed over in one piece: a point at a time costs a signal each.
QAreaSeries* StateBand(const QString& name, const QColor& color, const QList<TrendRow>& rows, qint64 stepMs,
                       qint64 (*share)(const TrendRow&), double base, double top, qint64 fromMs, qint64 toMs)
{
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    lower->replace({{double(fromMs), base}, {double(toMs), base}});
    QList<QPointF> edge {{double(fromMs), base}};
    for (const TrendRow& row : rows) {
        if (share(row) <= 0)
            continue;
        const qint64 end = row.startMs + stepMs;
        edge.append({{double(row.startMs), base}, {double(row.startMs), top}, {double(end), top}, {double(end), base}});
    }
    edge.append({double(toMs), base});
    upper->replace(edge);
    auto* band = new QAreaSeries(upper, lower);
    // An area series does not own its edges: they go with it when the chart deletes it.
    upper->setParent(band);
    lower->setParent(band);
    band->setName(name);
    band->setColor(color);
    band->setBorderColor(Qt::transparent);
    return band;
}

// A min-max band (and a middle line) for each run of rows that have a value: no band is drawn
// across a time without one.
void Bands(const QList<TrendRow>& rows, qint64 stepMs, bool (*has)(const TrendRow&), double (*low)(const TrendRow&),
           double (*high)(const TrendRow&), double (*middle)(const TrendRow&), const QString& bandName,
           const QString& lineName, const QColor& color, QList<QAbstractSeries*>* made)
{
    struct Run {
        QList<QPointF> upper, lower, middle;
    };
    QList<Run> runs;
    qint64 lastEnd = -1;
    bool open = false;
    for (const TrendRow& row : rows) {
        if (!has(row)) {
            open = false;
            continue;
        }
        if (!open || row.startMs != lastEnd)
            runs.append(Run {});
        open = true;
        lastEnd = row.startMs + stepMs;
        Run& run = runs.last();
        run.upper.append({{double(row.startMs), high(row)}, {double(lastEnd), high(row)}});
        run.lower.append({{double(row.startMs), low(row)}, {double(lastEnd), low(row)}});
        if (middle)
            run.middle.append({row.startMs + stepMs / 2.0, middle(row)});
    }
    for (const Run& run : runs) {
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        upper->replace(run.upper);
        lower->replace(run.lower);
        auto* band = new QAreaSeries(upper, lower);
        upper->setParent(band);
        lower->setParent(band);
        band->setName(bandName);
        band->setColor(color);
        band->setBorderColor(color.darker(120));
        made->append(band);
        if (middle) {
            auto* line = new QLineSeries;
            line->setName(lineName);
            line->setColor(kLine);
            line->replace(run.middle);
            made->append(line);
        }
    }
}

QChart* MakeChart(const QString& title)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    // Above the plot, so that both charts' time axes line up.
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    return chart;
}

} // namespace

TrendPane::TrendPane(QString path, double silenceDbfs, Notices& notices, QWidget* parent)
    : QWidget(parent),
      rttChart(MakeChart(QStringLiteral("Round trip (ms)"))),
      peakChart(MakeChart(QStringLiteral("Audio peak (dBFS)"))),
      path_(std::move(path)),
      silenceDbfs_(silenceDbfs),
      notices_(notices),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }),
      pickSavePath_(AskSavePath)
{
    setObjectName(QStringLiteral("TrendPane"));
    const auto hovered = [this](qint64 ms) { readout->setText(readoutAt(ms)); };
    rttView = new HoverView(rttChart, hovered);
    peakView = new HoverView(peakChart, hovered);
    title = new QLabel(this);
    readout = new QLabel(this);
    readout->setTextInteractionFlags(Qt::TextSelectableByMouse);

    spans = new QButtonGroup(this);
    auto* top = new QHBoxLayout;
    top->addWidget(title, 1);
    int id = 0;
    for (const QString& text :
         {QStringLiteral("&Hour"), QStringLiteral("D&ay"), QStringLiteral("&Week"), QStringLiteral("&30 days")}) {
        auto* button = new QPushButton(text, this);
        button->setCheckable(true);
        button->setChecked(id == span_);
        spans->addButton(button, id++);
        top->addWidget(button);
    }
    connect(spans, &QButtonGroup::idClicked, this, [this](int chosen) { setSpan(Span(chosen)); });
    exportButton = new QPushButton(QStringLiteral("E&xport..."), this);
    connect(exportButton, &QPushButton::clicked, this, &TrendPane::exportShown);
    top->addWidget(exportButton);

    charts_ = new QWidget(this);
    auto* chartsLayout = new QVBoxLayout(charts_);
    chartsLayout->setContentsMargins(0, 0, 0, 0);
    chartsLayout->setSpacing(0);
    chartsLayout->addWidget(rttView, 1);
    chartsLayout->addWidget(peakView, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(charts_, 1);
    layout->addWidget(readout);
    draw();
}

void TrendPane::showElement(const QString& key, const QString& name)
{
    key_ = key;
    name_ = name;
    reload();
}

void TrendPane::setSpan(Span span)
{
    span_ = span;
    if (QAbstractButton* button = spans->button(span))
        button->setChecked(true);
    reload();
}

void TrendPane::reload()
{
    rows_.clear();
    const qint64 spanMs = span_ == Hour ? kHourMs
        : span_ == Day                  ? 24 * kHourMs
        : span_ == Week                 ? 7 * 24 * kHourMs
                                        : 30 * 24 * kHourMs;
    toMs_ = clock_();
    fromMs_ = toMs_ - spanMs;
    if (!key_.isEmpty() && QFileInfo::exists(path_)) {
        TrendDatabase database(path_);
        if (database.open(TrendDatabase::Mode::Read)) {
            const qint64 bucket = database.bucketMs();
            const TrendSettings settings;
            // A thousand points or so whatever the span: a week of minutes is drawn in tens.
            const bool hourly = span_ == Month;
            stepMs_ = hourly ? bucket * settings.bucketsPerHour : span_ == Week ? bucket * 10 : bucket;
            const QList<TrendRow> read = database.read(key_, fromMs_, toMs_ + 1, hourly);
            rows_ = span_ == Week ? GroupTrendRows(read, stepMs_) : read;
        }
    }
    draw();
}

void TrendPane::draw()
{
    for (QChart* chart : {rttChart, peakChart}) {
        chart->removeAllSeries();
        for (QAbstractAxis* axis : chart->axes())
            chart->removeAxis(axis), delete axis;
    }
    title->setText(key_.isEmpty() ? QStringLiteral("Pick an element to see its history.")
                                  : QStringLiteral("%1: the last %2")
                                        .arg(name_,
                                             span_ == Hour       ? QStringLiteral("hour")
                                                 : span_ == Day  ? QStringLiteral("day")
                                                 : span_ == Week ? QStringLiteral("week")
                                                                 : QStringLiteral("30 days")));

    double rttTop = 1.0;
    bool peaks = false;
    double peakBottom = std::min(silenceDbfs_ - 10.0, -60.0);
    for (const TrendRow& row : rows_) {
        if (row.hasRtt())
            rttTop = std::max(rttTop, row.rttMaxMs * 1.1);
        if (row.hasPeak()) {
            peaks = true;
            if (std::isfinite(row.peakMinDbfs))
                peakBottom = std::min(peakBottom, std::floor(row.peakMinDbfs / 10.0) * 10.0);
        }
    }
    peakBottom = std::max(peakBottom, kPeakFloor);

    const auto build = [this](QChart* chart, double base, double top, const QList<QAbstractSeries*>& series,
                              const QString& unit) {
        QList<QAbstractSeries*> all;
        all.append(StateBand(
            QStringLiteral("down"), kDown, rows_, stepMs_, [](const TrendRow& r) { return r.downMs; }, base, top,
            fromMs_, toMs_));
        all.append(StateBand(
            QStringLiteral("silent"), kSilent, rows_, stepMs_, [](const TrendRow& r) { return r.silentMs; }, base, top,
            fromMs_, toMs_));
        all += series;
        auto* x = new QDateTimeAxis;
        x->setRange(QDateTime::fromMSecsSinceEpoch(fromMs_), QDateTime::fromMSecsSinceEpoch(toMs_));
        x->setFormat(toMs_ - fromMs_ > 2 * 24 * kHourMs ? QStringLiteral("dd.MM") : QStringLiteral("HH:mm"));
        auto* y = new QValueAxis;
        y->setRange(base, top);
        y->setTitleText(unit);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        for (QAbstractSeries* s : all) {
            chart->addSeries(s);
            s->attachAxis(x);
            s->attachAxis(y);
        }
        // The state bands explain themselves by colour; one legend entry for each kind of series.
        QSet<QString> named;
        for (QLegendMarker* marker : chart->legend()->markers()) {
            const QString name = marker->series()->name();
            marker->setVisible(!named.contains(name));
            named.insert(name);
        }
    };

    QList<QAbstractSeries*> rtt;
    Bands(
        rows_, stepMs_, [](const TrendRow& r) { return r.hasRtt(); }, [](const TrendRow& r) { return r.rttMinMs; },
        [](const TrendRow& r) { return r.rttMaxMs; }, [](const TrendRow& r) { return r.rttMedianMs; },
        QStringLiteral("min-max"), QStringLiteral("median"), kBand, &rtt);
    auto* lost = new QScatterSeries;
    lost->setName(QStringLiteral("lost"));
    lost->setColor(QColor(204, 32, 32));
    lost->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    lost->setMarkerSize(8);
    QList<QPointF> losses;
    for (const TrendRow& row : rows_) {
        if (row.lost > 0)
            losses.append({row.startMs + stepMs_ / 2.0, row.hasRtt() ? row.rttMaxMs : rttTop * 0.95});
    }
    lost->replace(losses);
    rtt.append(lost);
    build(rttChart, 0, rttTop, rtt, QStringLiteral("ms"));

    peakView->setVisible(peaks || key_.isEmpty());
    // A thousand steps a band need no smoothing, and drawing them without it is three times quicker.
    for (QChartView* view : {rttView, peakView})
        view->setRenderHint(QPainter::Antialiasing, span_ < Week);
    QList<QAbstractSeries*> peak;
    Bands(
        rows_, stepMs_, [](const TrendRow& r) { return r.hasPeak(); },
        [](const TrendRow& r) { return std::max(r.peakMinDbfs, kPeakFloor); },
        [](const TrendRow& r) { return std::max(r.peakMaxDbfs, kPeakFloor); }, nullptr, QStringLiteral("peak"),
        QString(), kPeakBand, &peak);
    auto* threshold = new QLineSeries;
    threshold->setName(QStringLiteral("silence threshold"));
    threshold->setPen(QPen(QColor(206, 92, 0), 1.5, Qt::DashLine));
    threshold->replace({{double(fromMs_), silenceDbfs_}, {double(toMs_), silenceDbfs_}});
    peak.append(threshold);
    build(peakChart, peakBottom, 0, peak, QStringLiteral("dBFS"));
}

QString TrendPane::readoutAt(qint64 ms) const
{
    for (const TrendRow& row : rows_) {
        if (ms < row.startMs || ms >= row.startMs + stepMs_)
            continue;
        QStringList parts {QDateTime::fromMSecsSinceEpoch(row.startMs)
                               .toString(stepMs_ >= kHourMs ? QStringLiteral("yyyy-MM-dd HH:00")
                                                            : QStringLiteral("yyyy-MM-dd HH:mm"))};
        if (row.hasRtt())
            parts.append(QStringLiteral("round trip %1 / %2 / %3 ms")
                             .arg(Ms(row.rttMinMs), Ms(row.rttMedianMs), Ms(row.rttMaxMs)));
        if (row.lost > 0)
            parts.append(QStringLiteral("%1 lost").arg(row.lost));
        if (row.hasPeak())
            parts.append(QStringLiteral("peak %1 / %2 dBFS").arg(Dbfs(row.peakMinDbfs), Dbfs(row.peakMaxDbfs)));
        if (row.downMs > 0)
            parts.append(QStringLiteral("down %1").arg(DurationText(row.downMs)));
        if (row.silentMs > 0)
            parts.append(QStringLiteral("silent %1").arg(DurationText(row.silentMs)));
        return parts.join(QStringLiteral(", "));
    }
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
        + QStringLiteral(": no data");
}

bool TrendPane::exportShown()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString base =
        QString(name_).replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("-"));
    QString path = pickSavePath_(this, QDir(documents).filePath(QStringLiteral("history-%1.png").arg(base)));
    if (path.isEmpty())
        return false;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        path += QStringLiteral(".png");
    const QString csvPath = path.left(path.size() - 4) + QStringLiteral(".csv");
    const QImage picture = charts_->grab().toImage();
    QSaveFile png(path), csv(csvPath);
    const QByteArray rows = TrendRowsCsv(rows_);
    if (png.open(QIODevice::WriteOnly) && picture.save(&png, "PNG") && csv.open(QIODevice::WriteOnly)
        && csv.write(rows) == rows.size() && png.commit() && csv.commit())
        return true;
    notices_.error(QStringLiteral("Error!"),
                   QStringLiteral("The file (%1) could not be written.").arg(QDir::toNativeSeparators(path))
                       + QStringLiteral("\rThe history was not exported."));
    return false;
}

} // namespace nms
