// Lookups on an indexed column of a 100,000-row table against the same
// lookups done by walking every row.
//
// Output ends with: ratio store_select_indexed_100k <indexed time / scan time>

#include "database.h"
#include "recordingreporter.h"

#include <benchmark/benchmark.h>

#include <QRandomGenerator>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr int rowCount = 100000;
constexpr int parentCount = 1000; // 100 rows per parent

int table = -1;
QList<qint64> ids; // the id of each row, in random order for the lookups

void buildTable()
{
    table = Database::addTable(QStringLiteral("bench_items"),
                               {QStringLiteral("id"), QStringLiteral("parent"), QStringLiteral("title")});
    QRandomGenerator random(4711);
    for (int i = 0; i < rowCount; ++i) {
        const qint64 id = 1000000 + i * 7;
        Database::insertRow(table, {{0, id},
                                    {1, qint64(random.bounded(parentCount))},
                                    {2, QStringLiteral("title %1").arg(i)}});
        ids.append(id);
    }
    Database::buildColumnIndex(table, 0);
    Database::buildColumnIndex(table, 1);
    for (qsizetype i = ids.size() - 1; i > 0; --i)
        ids.swapItemsAt(i, random.bounded(i + 1));
}

// The anchor: the lookup by hand over the public row walk.
int scanFind(int column, const QVariant &wanted)
{
    int row = 0;
    while (Database::nextRow(table, row)) {
        if (cellEquals(wanted, Database::value(table, row, column)))
            return row;
    }
    return 0;
}

QList<int> scanSelect(int column, const QVariant &wanted)
{
    QList<int> rows;
    int row = 0;
    while (Database::nextRow(table, row)) {
        if (cellEquals(wanted, Database::value(table, row, column)))
            rows.append(row);
    }
    return rows;
}

void findIndexed(benchmark::State &state)
{
    qsizetype next = 0;
    for (auto _ : state) {
        const int row = Database::findRow(table, 0, ids.at(next++ % ids.size()));
        benchmark::DoNotOptimize(row);
    }
}

void findScan(benchmark::State &state)
{
    qsizetype next = 0;
    for (auto _ : state) {
        const int row = scanFind(0, ids.at(next++ % ids.size()));
        benchmark::DoNotOptimize(row);
    }
}

void selectIndexed(benchmark::State &state)
{
    qint64 parent = 0;
    for (auto _ : state) {
        const RowCursor cursor = Database::select(table, 1, parent++ % parentCount);
        benchmark::DoNotOptimize(cursor.rows.size());
    }
}

void selectScan(benchmark::State &state)
{
    qint64 parent = 0;
    for (auto _ : state) {
        const QList<int> rows = scanSelect(1, parent++ % parentCount);
        benchmark::DoNotOptimize(rows.size());
    }
}

} // namespace

int main(int argc, char **argv)
{
    buildTable();

    // Sanity: both ways find the same rows.
    const QVariant someId = ids.first();
    const int indexedRow = Database::findRow(table, 0, someId);
    if (indexedRow == 0 || indexedRow != scanFind(0, someId)
        || Database::select(table, 1, 7).rows != scanSelect(1, 7)) {
        std::fprintf(stderr, "indexed and scanned lookups disagree\n");
        return 1;
    }

    benchmark::RegisterBenchmark("findRow/indexed", findIndexed)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("findRow/scan", findScan)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("select/indexed", selectIndexed)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("select/scan", selectScan)->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto time = [&reporter](const char *name) { return reporter.time(name); };
    const double indexed = time("findRow/indexed") + time("select/indexed");
    const double scanned = time("findRow/scan") + time("select/scan");
    if (indexed <= 0.0 || scanned <= 0.0) {
        std::fprintf(stderr, "a benchmark did not run (filtered out?)\n");
        return 1;
    }
    std::printf("findRow: %.3f us indexed, %.1f us scan\n", time("findRow/indexed"), time("findRow/scan"));
    std::printf("select:  %.3f us indexed, %.1f us scan\n", time("select/indexed"), time("select/scan"));
    std::printf("ratio store_select_indexed_100k %.6f\n", indexed / scanned);
    return 0;
}
