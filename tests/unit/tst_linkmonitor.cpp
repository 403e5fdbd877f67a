// The monitor of every element, on a scripted echo and a hand-set clock: down after the given
// number of unanswered probes and up at the first answer, silence and audio back after their
// durations, level answers attributed by the address they come from, and state kept across a
// reload of the database.

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include "base/AddressText.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "monitor/LinkMonitor.h"
#include "services/EchoSweep.h"

using namespace nms;

namespace {

// Answers at once for the addresses told to answer.
class ScriptedSweep final : public EchoSweep {
public:
    bool send(quint32 address) override
    {
        sent.append(address);
        if (answering.contains(address))
            QMetaObject::invokeMethod(
                this, [this, address] { Q_EMIT replied(address, 0.4); }, Qt::QueuedConnection);
        return true;
    }
    void close() override { }
    QSet<quint32> answering;
    QList<quint32> sent;
};

quint32 Address(const char* text)
{
    return Ipv4FromDottedText(QLatin1String(text), nullptr);
}

ElementRecord Element(const char* key, const char* ip, int role)
{
    ElementRecord record;
    record.key = QLatin1String(key);
    record.name = QLatin1String(key);
    record.ip = QLatin1String(ip);
    record.role = QString::number(role);
    return record;
}

// A LevelSamples datagram whose loudest sample is `peak`.
QByteArray Samples(quint32 peak)
{
    QByteArray data(LevelSamplesLength, '\0');
    data[0] = char(peak >> 16);
    data[1] = char(peak >> 8);
    data[2] = char(peak);
    return data;
}

const quint32 kLoud = 2097152; // -12 dBFS
const quint32 kQuiet = 16; // about -114 dBFS

struct Bench {
    Bench() : link(LinkPorts {}), monitor(sweep, link, Settings())
    {
        monitor.setClock([this] { return nowMs; });
    }
    static MonitorSettings Settings()
    {
        MonitorSettings s;
        s.presencePeriodMs = 30;
        s.missesForDown = 3;
        s.silenceMs = 10000;
        s.audioBackMs = 2000;
        s.watchAudio = false; // level answers are fed by hand
        return s;
    }
    QStringList events() const
    {
        QStringList names;
        for (const QList<QVariant>& e : spy)
            names.append(e.at(0).toString() + QLatin1Char(' ') + e.at(1).value<ElementRecord>().key);
        return names;
    }
    ScriptedSweep sweep;
    LinkEndpoint link; // never bound: nothing leaves it
    LinkMonitor monitor;
    QSignalSpy spy {&monitor, &LinkMonitor::event};
    qint64 nowMs = 1000000;
};

} // namespace

Q_DECLARE_METATYPE(nms::ElementRecord)

class TestLinkMonitor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<nms::ElementRecord>(); }
    void downAfterMissesUpAtFirstAnswer();
    void silenceAndAudioBack_data();
    void silenceAndAudioBack();
    void levelsCountOnlyForTheEncoderAtThatAddress();
    void reloadKeepsStateUnlessTheAddressChanged();
};

void TestLinkMonitor::downAfterMissesUpAtFirstAnswer()
{
    Bench b;
    b.monitor.watch({Element("A", "10.9.0.1", 1), Element("B", "10.9.0.2", 2)});
    b.sweep.answering = {Address("10.9.0.1"), Address("10.9.0.2")};
    b.monitor.start();
    QTRY_COMPARE(b.monitor.summary().up, 2);
    QVERIFY(b.spy.isEmpty()); // coming up the first time is no event

    b.sweep.answering.remove(Address("10.9.0.2"));
    QTRY_COMPARE(b.monitor.elements().at(1).state, ElementState::Down);
    QCOMPARE(b.events(), QStringList {QStringLiteral("element-down B")});
    QCOMPARE(b.spy.at(0).at(2).toJsonObject().value(QStringLiteral("misses")).toInt(), 3);
    QCOMPARE(b.monitor.elements().at(0).state, ElementState::Up);

    b.sweep.answering.insert(Address("10.9.0.2"));
    QTRY_COMPARE(b.monitor.elements().at(1).state, ElementState::Up);
    QCOMPARE(b.events(), (QStringList {QStringLiteral("element-down B"), QStringLiteral("element-up B")}));
    // Each element was probed in turn, not in bursts of one.
    const QList<quint32> sent = b.sweep.sent.mid(0, 6);
    QCOMPARE(sent.count(Address("10.9.0.1")), 3);
}

void TestLinkMonitor::silenceAndAudioBack_data()
{
    // Peaks fed one a second: Q quiet, L loud; D the element stops answering until it is down, U
    // it answers again until it is no longer down. Then the events and the state at the end.
    QTest::addColumn<QString>("peaks");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<ElementState>("state");
    QTest::newRow("quiet 10 s: silent") << "QQQQQQQQQQQ" << QStringList {"silence A"} << ElementState::Silent;
    QTest::newRow("quiet just under 10 s") << "QQQQQQQQQQ" << QStringList {} << ElementState::Up;
    QTest::newRow("one loud peak starts the count again") << "QQQQQLQQQQQQ" << QStringList {} << ElementState::Up;
    QTest::newRow("loud 2 s after silence: back")
        << "QQQQQQQQQQQLLL" << QStringList {"silence A", "audio-back A"} << ElementState::Up;
    QTest::newRow("loud under 2 s after silence")
        << "QQQQQQQQQQQLLQ" << QStringList {"silence A"} << ElementState::Silent;
    QTest::newRow("silent, down and back: up")
        << "QQQQQQQQQQQDU" << QStringList {"silence A", "element-down A", "element-up A"} << ElementState::Up;
    QTest::newRow("down and back, then quiet 10 s: silent again")
        << "DUQQQQQQQQQQQ" << QStringList {"element-down A", "element-up A", "silence A"} << ElementState::Silent;
}

void TestLinkMonitor::silenceAndAudioBack()
{
    QFETCH(QString, peaks);
    QFETCH(QStringList, events);
    QFETCH(ElementState, state);
    Bench b;
    b.monitor.watch({Element("A", "10.9.0.1", 1)});
    b.sweep.answering = {Address("10.9.0.1")};
    b.monitor.start();
    QTRY_COMPARE(b.monitor.elements().at(0).state, ElementState::Up);
    for (QChar peak : peaks) {
        if (peak == u'D' || peak == u'U') {
            if (peak == u'D')
                b.sweep.answering.clear();
            else
                b.sweep.answering = {Address("10.9.0.1")};
            QTRY_COMPARE(b.monitor.elements().at(0).state == ElementState::Down, peak == u'D');
            continue;
        }
        b.monitor.takeLevelSamples(Samples(peak == u'L' ? kLoud : kQuiet), QHostAddress(QStringLiteral("10.9.0.1")));
        b.nowMs += 1000;
    }
    QCOMPARE(b.events(), events);
    QCOMPARE(b.monitor.elements().at(0).state, state);
}

void TestLinkMonitor::levelsCountOnlyForTheEncoderAtThatAddress()
{
    Bench b;
    b.monitor.watch({Element("A", "10.9.0.1", 1), Element("B", "10.9.0.2", 1), Element("D", "10.9.0.3", 2)});
    for (const char* from : {"10.9.0.2", "10.9.0.3", "10.9.0.9"})
        b.monitor.takeLevelSamples(Samples(kLoud), QHostAddress(QLatin1String(from)));
    QVERIFY(std::isnan(b.monitor.elements().at(0).peakDbfs));
    QCOMPARE(std::round(b.monitor.elements().at(1).peakDbfs), -12.0);
    QVERIFY(std::isnan(b.monitor.elements().at(2).peakDbfs)); // a decoder has no level
}

void TestLinkMonitor::reloadKeepsStateUnlessTheAddressChanged()
{
    Bench b;
    b.monitor.watch({Element("A", "10.9.0.1", 1), Element("B", "10.9.0.2", 1)});
    b.sweep.answering = {Address("10.9.0.1"), Address("10.9.0.2")};
    b.monitor.start();
    QTRY_COMPARE(b.monitor.summary().up, 2);
    b.sweep.answering.clear();
    b.monitor.watch({Element("B", "10.9.0.7", 1), Element("A", "10.9.0.1", 1), Element("C", "10.9.0.3", 1)});
    QCOMPARE(b.monitor.indexOf(QStringLiteral("A")), 1);
    QCOMPARE(b.monitor.elements().at(1).state, ElementState::Up);
    QCOMPARE(b.monitor.elements().at(0).state, ElementState::Unknown);
    QCOMPARE(SummaryText(b.monitor.summary()), QStringLiteral("3 elements: 1 up, 2 unknown"));
    // A new address answers nothing yet: the element goes down from Unknown, and says so.
    QTRY_COMPARE(b.monitor.summary().down, 3);
    QCOMPARE(b.events().size(), 3);
}

QTEST_GUILESS_MAIN(TestLinkMonitor)
#include "tst_linkmonitor.moc"
