// The window's database paths: Load_Config filling the list from 1,000 elements, one feedback
// processed from arrival to its end (MAC known at once, database written, list reloaded), and a
// discovery's grouped write of many new sections.
#include <benchmark/benchmark.h>

#include "database/ElementStore.h"
#include "link/LinkEndpoint.h"
#include <QEventLoop>
#include <QFile>

#include "database/ElementRecords.h"
#include "micro/BenchDatabase.h"
#include "session/FeedbackProcessor.h"
#include "support/ConsoleFixture.h"

namespace nms::bench {

namespace {

using test::ConsoleFixture;

void BM_LoadConfig(benchmark::State& state)
{
    const int count = int(state.range(0));
    ConsoleFixture fx;
    WriteBenchDatabase(fx.database(), count);
    // With an element shown, the reload also finds and reselects it (the last one: a full scan).
    const bool reselect = state.range(1) != 0;
    if (reselect && !fx.select(BenchKey(count - 1)))
        state.SkipWithError("could not select the element");
    for (auto _ : state) {
        fx->Load_Config();
        benchmark::DoNotOptimize(fx->lstElements->count());
    }
    if (fx->lstElements->count() != count)
        state.SkipWithError("the list does not hold every element");
}
BENCHMARK(BM_LoadConfig)
    ->ArgsProduct({{57, 1000}, {0, 1}})
    ->ArgNames({"elements", "reselect"})
    ->Unit(benchmark::kMillisecond);

// The element's own answer to its ConfigWrite: parsed, checked, matched, its MAC looked up,
// every confirmed field stored in one rewrite, the success notice posted and the list reloaded.
void BM_ProcessFeedback(benchmark::State& state)
{
    const int count = int(state.range(0));
    ConsoleFixture fx;
    WriteBenchDatabase(fx.database(), count);
    const int index = count / 2;
    const QString key = BenchKey(index);
    fx.neighbours.add(BenchIp(index), test::MacBytes(KeyToMacText(key)));
    if (!fx.select(key)) {
        state.SkipWithError("could not select the element");
        return;
    }
    test::FeedbackFields fields;
    fields.ip = BenchIp(index);
    fields.mask = QStringLiteral("255.255.0.0");
    fields.gw = QStringLiteral("10.77.0.254");
    fields.remote = QStringLiteral("10.77.0.2");
    fields.role = 1;
    fields.serial = QByteArray::fromHex("00000000");
    fields.serial[3] = char(index % 255 + 1);
    ConfigFields sent;
    sent.ip = fields.ip;
    sent.mask = fields.mask;
    sent.gw = fields.gw;
    sent.remote = fields.remote;
    sent.input = fields.input;
    sent.type = fields.type;
    sent.tx = fields.tx;

    QEventLoop loop;
    QObject::connect(&fx.core().feedback, &FeedbackProcessor::feedbackHandled, &loop, &QEventLoop::quit);
    int round = 0;
    for (auto _ : state) {
        // The operator renamed the element, so the answer changes the file.
        const QByteArray name = (++round % 2 ? QByteArrayLiteral("BENCH A") : QByteArrayLiteral("BENCH B"));
        sent.name = QString::fromLatin1(name);
        fx.core().state.setLastSent(sent);
        fields.name = name.leftJustified(16, ' ');
        fx.core().link.Route(fields.bytes());
        loop.exec();
    }
    fx.showNotices();
    if (fx.boxes.count() == 0 || !fx.boxes.texts().last().contains(QStringLiteral("sucessfuly")))
        state.SkipWithError("the feedback was not stored");
}
BENCHMARK(BM_ProcessFeedback)->Arg(57)->Arg(1000)->ArgName("elements")->Unit(benchmark::kMillisecond);

// A discovery's grouped write: a batch of new sections added to a file already holding some.
void BM_DiscoveryBatchWrite(benchmark::State& state)
{
    test::TempDir dir;
    const int batch = int(state.range(0));
    const QByteArray existing = BenchDatabaseText(int(state.range(1)));
    QList<ProfileFile::SectionEntries> sections;
    for (int i = 0; i < batch; ++i)
        sections.append({QStringLiteral("02AA%1").arg(i, 8, 16, QLatin1Char('0')).toUpper(),
                         {{QStringLiteral("name"), BenchName(i)},
                          {QStringLiteral("ip"), BenchIp(i)},
                          {QStringLiteral("role"), QStringLiteral("1")},
                          {QStringLiteral("sn"), QStringLiteral("7")}}});
    ElementStore store(dir.database());
    for (auto _ : state) {
        state.PauseTiming();
        QFile file(dir.database());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(existing);
        file.close();
        state.ResumeTiming();
        if (!store.writeMany(sections))
            state.SkipWithError("the batch was not written");
    }
}
BENCHMARK(BM_DiscoveryBatchWrite)
    ->ArgsProduct({{1, 50, 1000}, {0, 1000}})
    ->ArgNames({"batch", "elements"})
    ->Unit(benchmark::kMillisecond);

} // namespace

} // namespace nms::bench
