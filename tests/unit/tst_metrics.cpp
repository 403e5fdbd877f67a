// The metrics' exposition text: label values escaped, values the monitor does not have left out
// (never NaN), the state families, the notifiers' counters only once they are wired; and the
// text of awkward elements accepted by promtool, Prometheus' own checker.
#include "app/Metrics.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <limits>

using namespace nms;

namespace {

WatchedElement Element(const QString& name, ElementState state)
{
    WatchedElement element;
    element.record.key = QStringLiteral("001122334455");
    element.record.name = name;
    element.record.ip = QStringLiteral("10.0.0.5");
    element.record.role = QStringLiteral("1");
    element.encoder = true;
    element.state = state;
    element.sinceMs = 1700000000123;
    return element;
}

// The sample lines of one family.
QStringList Samples(const QByteArray& text, const QByteArray& name)
{
    QStringList lines;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(name + '{') || line.startsWith(name + ' '))
            lines.append(QString::fromUtf8(line));
    }
    return lines;
}

} // namespace

class TestMetrics : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void escape_data();
    void escape();
    void samples_data();
    void samples();
    void notifiers();
    void promtoolAccepts();
};

void TestMetrics::escape_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << "STUDIO TX" << QByteArray("STUDIO TX");
    QTest::newRow("backslash") << "A\\B" << QByteArray("A\\\\B");
    QTest::newRow("quote") << "say \"hi\"" << QByteArray("say \\\"hi\\\"");
    QTest::newRow("newline") << "two\nlines" << QByteArray("two\\nlines");
    QTest::newRow("escape sequence kept literal") << "\\n" << QByteArray("\\\\n");
    QTest::newRow("UTF-8 and a tab untouched") << QString::fromUtf8("Süd\tTX")
                                               << QByteArray("S\xc3\xbc"
                                                             "d\tTX");
}

void TestMetrics::escape()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, escaped);
    QCOMPARE(EscapeLabelValue(value), escaped);
}

void TestMetrics::samples_data()
{
    // One element; the family looked at, and its lines exactly.
    QTest::addColumn<int>("state");
    QTest::addColumn<double>("rttMs");
    QTest::addColumn<double>("peak");
    QTest::addColumn<bool>("encoder");
    QTest::addColumn<QByteArray>("family");
    QTest::addColumn<QStringList>("lines");
    const QString labels = "{mac=\"00:11:22:33:44:55\",name=\"TX\",ip=\"10.0.0.5\",role=\"encoder\"}";
    const double nan = qQNaN();
    const double inf = std::numeric_limits<double>::infinity();
    const auto row = [&](const char* name, ElementState state, double rtt, double peak, bool encoder,
                         const char* family, QStringList lines) {
        for (QString& line : lines)
            line.replace("{L}", labels);
        QTest::newRow(name) << int(state) << rtt << peak << encoder << QByteArray(family) << lines;
    };
    row("up", ElementState::Up, 0.5, nan, true, "orbilane_element_up", {"orbilane_element_up{L} 1"});
    row("silent counts as up", ElementState::Silent, 0.5, nan, true, "orbilane_element_up",
        {"orbilane_element_up{L} 1"});
    row("down", ElementState::Down, 0.5, nan, true, "orbilane_element_up", {"orbilane_element_up{L} 0"});
    row("unknown has no up", ElementState::Unknown, -1, nan, true, "orbilane_element_up", {});
    row("state one-hot", ElementState::Silent, -1, nan, true, "orbilane_element_state",
        {"orbilane_element_state{mac=\"00:11:22:33:44:55\",name=\"TX\",ip=\"10.0.0.5\",role=\"encoder\",state=\"up\"} "
         "0",
         "orbilane_element_state{mac=\"00:11:22:33:44:55\",name=\"TX\",ip=\"10.0.0.5\",role=\"encoder\",state=\"down\"}"
         " 0",
         "orbilane_element_state{mac=\"00:11:22:33:44:55\",name=\"TX\",ip=\"10.0.0.5\",role=\"encoder\",state="
         "\"silent\"} 1",
         "orbilane_element_state{mac=\"00:11:22:33:44:55\",name=\"TX\",ip=\"10.0.0.5\",role=\"encoder\",state="
         "\"unknown\"} 0"});
    row("rtt in seconds", ElementState::Up, 0.412, nan, true, "orbilane_element_rtt_seconds",
        {"orbilane_element_rtt_seconds{L} 0.000412"});
    row("rtt 0 kept", ElementState::Up, 0.0, nan, true, "orbilane_element_rtt_seconds",
        {"orbilane_element_rtt_seconds{L} 0"});
    row("no rtt left out", ElementState::Down, -1, nan, true, "orbilane_element_rtt_seconds", {});
    row("NaN rtt left out", ElementState::Up, nan, nan, true, "orbilane_element_rtt_seconds", {});
    row("peak", ElementState::Up, -1, -12.25, true, "orbilane_encoder_audio_peak_dbfs",
        {"orbilane_encoder_audio_peak_dbfs{L} -12.25"});
    row("digital silence", ElementState::Up, -1, -inf, true, "orbilane_encoder_audio_peak_dbfs",
        {"orbilane_encoder_audio_peak_dbfs{L} -Inf"});
    row("no level answer left out", ElementState::Up, -1, nan, true, "orbilane_encoder_audio_peak_dbfs", {});
    row("a decoder has no peak", ElementState::Up, -1, -3.0, false, "orbilane_encoder_audio_peak_dbfs", {});
    row("never seen left out", ElementState::Unknown, -1, nan, true, "orbilane_element_last_seen_timestamp_seconds",
        {});
    row("state change in seconds with ms", ElementState::Up, -1, nan, true,
        "orbilane_element_state_change_timestamp_seconds",
        {"orbilane_element_state_change_timestamp_seconds{L} 1700000000.123"});
}

void TestMetrics::samples()
{
    QFETCH(int, state);
    QFETCH(double, rttMs);
    QFETCH(double, peak);
    QFETCH(bool, encoder);
    QFETCH(QByteArray, family);
    QFETCH(QStringList, lines);
    WatchedElement element = Element(QStringLiteral("TX  "), ElementState(state));
    element.roundTripMs = rttMs;
    element.peakDbfs = peak;
    element.encoder = encoder;
    const QByteArray text = MetricsText({element}, {}, QStringLiteral("2.0.1"));
    QCOMPARE(Samples(text, family), lines);
    // The family is announced whether or not it has samples, once.
    QCOMPARE(text.count("# TYPE " + family + " gauge\n"), 1);
    QVERIFY(!text.contains("NaN"));
    QVERIFY(text.endsWith('\n'));
}

void TestMetrics::notifiers()
{
    // Until the notifiers are wired there are no notify families at all; then one series each.
    const QByteArray none = MetricsText({}, {}, QStringLiteral("2.0.1"));
    QVERIFY(!none.contains("orbilane_notify"));
    QCOMPARE(Samples(none, "orbilane_elements"), QStringList {"orbilane_elements 0"});
    const QByteArray two = MetricsText({}, {{QStringLiteral("mail \"ops\""), 3, 0}, {QStringLiteral("hook"), 0, 2}},
                                       QStringLiteral("2.0.1"));
    QCOMPARE(Samples(two, "orbilane_notify_sent_total"),
             (QStringList {"orbilane_notify_sent_total{notifier=\"mail \\\"ops\\\"\"} 3",
                           "orbilane_notify_sent_total{notifier=\"hook\"} 0"}));
    QCOMPARE(Samples(two, "orbilane_notify_failed_total"),
             (QStringList {"orbilane_notify_failed_total{notifier=\"mail \\\"ops\\\"\"} 0",
                           "orbilane_notify_failed_total{notifier=\"hook\"} 2"}));
    QVERIFY(two.contains("# TYPE orbilane_notify_sent_total counter\n"));
}

void TestMetrics::promtoolAccepts()
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is not installed (Debian package prometheus)");
    // Names that need every escape, an element in each state, digital silence, a notifier.
    QList<WatchedElement> elements;
    const char* names[] = {"A \"quoted\" one", "back\\slash", "new\nline", "plain"};
    const ElementState states[] = {ElementState::Up, ElementState::Down, ElementState::Silent, ElementState::Unknown};
    for (int i = 0; i < 4; ++i) {
        WatchedElement element = Element(QString::fromUtf8(names[i]), states[i]);
        element.record.key = QStringLiteral("00112233445%1").arg(i);
        element.roundTripMs = i == 0 ? 0.3 : -1;
        element.peakDbfs = i == 2 ? -std::numeric_limits<double>::infinity() : -20.0;
        element.lastSeenMs = i == 3 ? 0 : 1700000000000;
        elements.append(element);
    }
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    QVERIFY(check.waitForStarted());
    check.write(MetricsText(elements, {{QStringLiteral("mail"), 1, 1}}, QStringLiteral("2.0.1")));
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(10000));
    const QString said = QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
    QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), qPrintable(said));
}

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_metrics.moc"
