// The memory an opened store holds for a large file: 1,000,000 rows of the
// `skrin` table with short cells (a handle, a short title, two date-times,
// four file names, positions and flags), as most rows of a large library are.
//
// Output ends with:
//   ratio store_open_memory_over_file_1m    resident memory the opened store adds / the size of its file,
//                                           the open in a fresh process (best of 3)

#include "database.h"
#include "residentbytes.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int rowCount = 1000000;

QString storeFolder;
double bestRatio = 0.0;
qint64 bestGrowth = 0;

void die(const char *what)
{
    std::fprintf(stderr, "bench_store_memory: %s\n", what);
    std::exit(1);
}

// The store makes its schema; the rows then go in by plain SQL, in one
// statement, which is far quicker than a million flushed inserts.
void prepareStore(const QString &folder)
{
    if (!Database::open(folder) || !Database::close())
        die("cannot make the store");
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(folder + QStringLiteral("/database.db")).constData(), &db) != SQLITE_OK)
        die("cannot open the file");
    const char *fill = "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 1000000) "
                       "INSERT INTO skrin SELECT 1000000 + n, n % 977, printf('%08x', (n * 2654435761) % 4294967296), "
                       "'Capture ' || n, '', "
                       "strftime('%Y-%m-%dT%H:%M:%S.000', 1672531200 + n, 'unixepoch'), "
                       "strftime('%Y-%m-%dT%H:%M:%S.000', 1672531200 + 2 * n, 'unixepoch'), "
                       "n % 1000 * 0.5, n % 700 * 0.25, 800.0 + n % 13, 600.0 + n % 7, "
                       "printf('%08x.png', (n * 40503) % 4294967296), printf('%08x.jpg', (n * 69069) % 4294967296), "
                       "printf('%08x.jpg', (n * 1103515245) % 4294967296), printf('%08x.jpg', (n * 134775813) % 4294967296), "
                       "n % 2, 0, NULL, 0, '' FROM c";
    char *message = nullptr;
    if (sqlite3_exec(db, fill, nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", message);
        die("cannot fill the table");
    }
    sqlite3_close(db);
}

// Child: opens the store with the SQLite driver already loaded; prints the
// resident growth in bytes and the seconds the open took.
int childOpen(const QString &folder)
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("driver"));
    QSqlDatabase::removeDatabase(QStringLiteral("driver"));
    const qint64 before = residentBytes();
    QElapsedTimer timer;
    timer.start();
    if (!Database::open(folder))
        return 1;
    const double took = double(timer.nsecsElapsed()) / 1e9;
    const qint64 growth = residentBytes() - before;
    if (before <= 0 || Database::rowCount(Database::tableId(QStringLiteral("skrin"))) != rowCount)
        return 1;
    std::printf("%lld %.6f\n", qlonglong(growth), took);
    Database::close();
    return 0;
}

void storeOpenMemory(benchmark::State &state)
{
    const qint64 fileSize = QFileInfo(storeFolder + QStringLiteral("/database.db")).size();
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-open"), storeFolder});
        if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            die("the measuring child failed");
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        const qint64 growth = figures.value(0).toLongLong();
        state.SetIterationTime(figures.value(1).toDouble());
        state.counters["memory_mb"] = double(growth) / 1e6;
        state.counters["file_mb"] = double(fileSize) / 1e6;
        const double ratio = double(growth) / double(fileSize);
        if (growth > 0 && (bestRatio == 0.0 || ratio < bestRatio)) {
            bestRatio = ratio;
            bestGrowth = growth;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--child-open") == 0)
        return childOpen(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir dir;
    if (!dir.isValid())
        die("no temporary folder");
    storeFolder = dir.path() + QStringLiteral("/store");
    prepareStore(storeFolder);

    benchmark::RegisterBenchmark("store_open_memory_over_file_1m/open_1m_rows", storeOpenMemory)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const qint64 fileSize = QFileInfo(storeFolder + QStringLiteral("/database.db")).size();
    if (bestRatio > 0.0) {
        std::printf("open memory %.1f MB for a file of %.1f MB\n", double(bestGrowth) / 1e6, double(fileSize) / 1e6);
        std::printf("ratio store_open_memory_over_file_1m %.2f\n", bestRatio);
    }
    return 0;
}
