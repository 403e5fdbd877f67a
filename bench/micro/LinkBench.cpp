// The datagram paths: parsing and checking one feedback, the level meter on one LevelSamples
// (pure computation and the window's ShowAudioLevel), and building a ConfigWrite.
#include <benchmark/benchmark.h>

#include "audio/LevelMeter.h"
#include "link/Datagrams.h"
#include "link/Feedback.h"
#include "micro/BenchDatabase.h"
#include "support/ConsoleFixture.h"

namespace nms::bench {

namespace {

void BM_ParseAndValidateFeedback(benchmark::State& state)
{
    test::FeedbackFields fields;
    fields.role = 2;
    fields.attenuation = 200;
    const QByteArray datagram = fields.bytes();
    const ElementFeedback previous;
    for (auto _ : state) {
        const ElementFeedback feedback = ParseFeedback(datagram, previous);
        benchmark::DoNotOptimize(ValidateFeedback(feedback));
    }
}
BENCHMARK(BM_ParseAndValidateFeedback);

void BM_ComputeAudioLevel(benchmark::State& state)
{
    const QByteArray samples = BenchLevelSamples(2106000); // about -12 dBFS
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeAudioLevel(samples));
}
BENCHMARK(BM_ComputeAudioLevel);

// Monitoring on, as when answers arrive; no event loop runs, so the poll timer never fires.
void MeterOn(test::ConsoleFixture& fx)
{
    fx.core().audio.start();
}

// On the window: the bar and the caption are set (alternating levels, so both really change).
void BM_ShowAudioLevel(benchmark::State& state)
{
    test::ConsoleFixture fx;
    MeterOn(fx);
    const QByteArray loud = BenchLevelSamples(2106000);
    const QByteArray quiet = BenchLevelSamples(210600);
    bool odd = false;
    for (auto _ : state)
        fx.core().audio.ShowAudioLevel((odd = !odd) ? loud : quiet, QHostAddress(fx.core().state.selected().ip));
    if (fx->lblVolume->caption() == QStringLiteral("---"))
        state.SkipWithError("the meter did not draw");
}
BENCHMARK(BM_ShowAudioLevel);

// A steady level: the same datagram every time, so the bar and caption keep their values.
void BM_ShowAudioLevelSteady(benchmark::State& state)
{
    test::ConsoleFixture fx;
    MeterOn(fx);
    const QByteArray loud = BenchLevelSamples(2106000);
    for (auto _ : state)
        fx.core().audio.ShowAudioLevel(loud, QHostAddress(fx.core().state.selected().ip));
}
BENCHMARK(BM_ShowAudioLevelSteady);

void BM_BuildConfigWrite(benchmark::State& state)
{
    ConfigFields fields;
    fields.ip = QStringLiteral("192.168.1.20");
    fields.mask = QStringLiteral("255.255.255.0");
    fields.gw = QStringLiteral("192.168.1.1");
    fields.remote = QStringLiteral("192.168.1.21");
    fields.input = 1;
    fields.type = 1;
    fields.name = QStringLiteral("Studio TX");
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildConfigWrite(fields));
}
BENCHMARK(BM_BuildConfigWrite);

} // namespace

} // namespace nms::bench
