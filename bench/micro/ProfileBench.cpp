// The store's operations against databases of 1, 57, 1,000 and 10,000 elements. Each operation
// reads the file afresh (and a write rewrites and syncs it), so the cost grows with the file.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "database/ProfileStore.h"
#include "micro/BenchDatabase.h"

namespace nms::bench {

namespace {

// A private folder holding a database of state.range(0) elements.
struct Database {
    explicit Database(int count) : path(dir.filePath(QStringLiteral("nms.ini"))) { WriteBenchDatabase(path, count); }
    QTemporaryDir dir;
    QString path;
};

void ElementCounts(benchmark::internal::Benchmark* b)
{
    for (int count : {1, 57, 1000, 10000})
        b->Arg(count);
    b->Unit(benchmark::kMicrosecond);
}

// The last section: a reader must walk the whole file to find it.
void BM_ReadFromINI(benchmark::State& state)
{
    const int count = int(state.range(0));
    Database db(count);
    const QString key = BenchKey(count - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadFromINI(key, QStringLiteral("name"), db.path, QString()));
}
BENCHMARK(BM_ReadFromINI)->Apply(ElementCounts);

void BM_CheckIfIniKeyExists(benchmark::State& state)
{
    const int count = int(state.range(0));
    Database db(count);
    const QString key = BenchKey(count - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(CheckIfIniKeyExists(key, QStringLiteral("ip"), db.path));
}
BENCHMARK(BM_CheckIfIniKeyExists)->Apply(ElementCounts);

void BM_GetSectionKeyCount(benchmark::State& state)
{
    const int count = int(state.range(0));
    Database db(count);
    const QString key = BenchKey(count - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(GetSectionKeyCount(key, db.path));
}
BENCHMARK(BM_GetSectionKeyCount)->Apply(ElementCounts);

void BM_LoadIniSectionsLB(benchmark::State& state)
{
    Database db(int(state.range(0)));
    for (auto _ : state) {
        QStringList names;
        LoadIniSectionsLB(names, db.path);
        benchmark::DoNotOptimize(names);
    }
}
BENCHMARK(BM_LoadIniSectionsLB)->Apply(ElementCounts);

// A value that changes on every call, so the file is really rewritten (and synced).
void BM_WriteToINI(benchmark::State& state)
{
    const int count = int(state.range(0));
    Database db(count);
    const QString key = BenchKey(count / 2);
    int round = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            WriteToINI(key, QStringLiteral("att"), QString::number(14 + (++round % 200)), db.path));
}
BENCHMARK(BM_WriteToINI)->Apply(ElementCounts);

// The same value again: read and compared, no rewrite.
void BM_WriteToINIUnchanged(benchmark::State& state)
{
    const int count = int(state.range(0));
    Database db(count);
    const QString key = BenchKey(count / 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteToINI(key, QStringLiteral("mask"), QStringLiteral("255.255.0.0"), db.path));
}
BENCHMARK(BM_WriteToINIUnchanged)->Apply(ElementCounts);

// One feedback's ten entries in one rewrite, into an existing section.
void BM_WriteIniEntries(benchmark::State& state)
{
    const int count = int(state.range(0));
    Database db(count);
    const QString key = BenchKey(count / 2);
    int round = 0;
    for (auto _ : state) {
        const QList<QPair<QString, QString>> entries = {
            {QStringLiteral("name"), QStringLiteral("BENCH %1").arg(++round % 2).leftJustified(16)},
            {QStringLiteral("ip"), BenchIp(count / 2)},
            {QStringLiteral("mask"), QStringLiteral("255.255.0.0")},
            {QStringLiteral("gw"), QStringLiteral("10.77.0.254")},
            {QStringLiteral("remote"), QStringLiteral("10.77.0.2")},
            {QStringLiteral("input"), QStringLiteral("0")},
            {QStringLiteral("type"), QStringLiteral("1")},
            {QStringLiteral("tx"), QStringLiteral("0")},
            {QStringLiteral("role"), QStringLiteral("1")},
            {QStringLiteral("sn"), QStringLiteral("7")},
        };
        benchmark::DoNotOptimize(WriteIniEntries(key, entries, db.path));
    }
}
BENCHMARK(BM_WriteIniEntries)->Apply(ElementCounts);

} // namespace

} // namespace nms::bench
