#pragma once
// The history of one element, drawn: its round trip as a min-max band with the median line and
// lost pings marked, an encoder's peak as a band with the silence threshold, and the time it was
// down or silent as coloured bands behind both; the last hour, day, week or 30 days; the values
// under the mouse in words; Export writes the picture (PNG) and the rows (CSV).

#include <QList>
#include <QWidget>

#include <functional>

#include "trends/TrendRow.h"

class QButtonGroup;
class QChart;
class QChartView;
class QLabel;
class QPushButton;

namespace nms {

class Notices;

class TrendPane : public QWidget {
    Q_OBJECT
public:
    enum Span { Hour, Day, Week, Month };
    using SavePathPicker = std::function<QString(QWidget* parent, const QString& suggested)>;

    TrendPane(QString path, double silenceDbfs, Notices& notices, QWidget* parent = nullptr);

    // The element drawn; an empty key draws nothing.
    void showElement(const QString& key, const QString& name);
    void setSpan(Span span);
    Span span() const { return span_; }
    // Reads the element's rows again (after each write of the history).
    void reload();

    // ms since the epoch (tests).
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }
    void setSavePathPicker(SavePathPicker picker) { pickSavePath_ = std::move(picker); }
    // The picture to FILE.png and the rows to FILE.csv; false when nothing was written.
    bool exportShown();

    // The rows drawn, oldest first, and where each begins and ends.
    const QList<TrendRow>& rows() const { return rows_; }
    qint64 stepMs() const { return stepMs_; }
    // The readout for the time under the mouse.
    QString readoutAt(qint64 ms) const;

    QChart* rttChart;
    QChart* peakChart;
    QChartView* rttView;
    QChartView* peakView;
    QLabel* title;
    QLabel* readout;
    QButtonGroup* spans;
    QPushButton* exportButton;

private:
    void draw();
    QWidget* charts_;

    QString path_;
    double silenceDbfs_;
    Notices& notices_;
    std::function<qint64()> clock_;
    SavePathPicker pickSavePath_;
    QString key_, name_;
    Span span_ = Day;
    QList<TrendRow> rows_;
    qint64 stepMs_ = 60 * 1000;
    qint64 fromMs_ = 0, toMs_ = 0;
};

} // namespace nms
