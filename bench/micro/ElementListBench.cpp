// The window's database paths: Load_Config filling the list from 1,000 elements, and one
// feedback processed from arrival to its end (MAC known at once, database written, list reloaded).
#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QLineEdit>

#include "database/ElementRecords.h"
#include "link/FeedbackProcessor.h"
#include "micro/BenchDatabase.h"
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
// every confirmed field stored, the success notice shown and the list reloaded.
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

    QEventLoop loop;
    QObject::connect(fx->feedback, &FeedbackProcessor::feedbackHandled, &loop, &QEventLoop::quit);
    int round = 0;
    for (auto _ : state) {
        // The operator renamed the element, so the answer changes the file.
        const QByteArray name = (++round % 2 ? QByteArrayLiteral("BENCH A") : QByteArrayLiteral("BENCH B"));
        fx->txtElementName->setText(QString::fromLatin1(name));
        fields.name = name.leftJustified(16, ' ');
        fx->feedback->Enqueue(fields.bytes());
        loop.exec();
    }
    if (fx.boxes.count() == 0 || !fx.boxes.texts().last().contains(QStringLiteral("sucessfuly")))
        state.SkipWithError("the feedback was not stored");
}
BENCHMARK(BM_ProcessFeedback)->Arg(57)->Arg(1000)->ArgName("elements")->Unit(benchmark::kMillisecond);

// The same answer while a discovery waits: one new section written in one rewrite.
void BM_ProcessDiscoveryFeedback(benchmark::State& state)
{
    ConsoleFixture fx;
    WriteBenchDatabase(fx.database(), int(state.range(0)));
    const QString key = QStringLiteral("02AA00000001");
    fx.neighbours.add(QStringLiteral("10.99.0.1"), test::MacBytes(KeyToMacText(key)));
    test::FeedbackFields fields;
    fields.ip = QStringLiteral("10.99.0.1");
    fx->AutoDiscoverAwaiting = true;
    QEventLoop loop;
    QObject::connect(fx->feedback, &FeedbackProcessor::feedbackHandled, &loop, &QEventLoop::quit);
    int round = 0;
    for (auto _ : state) {
        fields.name =
            (++round % 2 ? QByteArrayLiteral("BENCH A") : QByteArrayLiteral("BENCH B")).leftJustified(16, ' ');
        fx->feedback->Enqueue(fields.bytes());
        loop.exec();
    }
    fx->AutoDiscoverAwaiting = false;
    if (fx.boxes.count() != 0)
        state.SkipWithError(qPrintable(fx.boxes.texts().first()));
}
BENCHMARK(BM_ProcessDiscoveryFeedback)->Arg(0)->Arg(249)->ArgName("elements")->Unit(benchmark::kMillisecond);

} // namespace

} // namespace nms::bench
