// The program's start with a grown library against its start with an empty
// one: each start a fresh process of the Release program in a portable data
// folder, measured to its main window's first paint.
//
// Output ends with:
//   ratio startup_5000_over_empty         time to the first paint, 5,000 screenshots / empty (best of five each)
//   ratio startup_20000_over_empty        the same with 20,000 screenshots (best of five each)
//   ratio startup_5000_memory_over_empty  resident memory 2 s after the first paint, 5,000 / empty (best of three)

#include "benchstore.h"
#include "pictures.h"
#include "polygondata.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPolygonF>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr int memoryDelayMs = 2000;

QString emptyFolder;

struct Best
{
    double full = std::numeric_limits<double>::max();
    double empty = std::numeric_limits<double>::max();
};

// A library of `count` screenshots and the best figures measured on it.
struct Library
{
    int count;
    QString folder;
    Best time;
    Best memory;
};
Library small{5000, {}, {}, {}};
Library large{20000, {}, {}, {}};

void die(const char *what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what);
    std::exit(1);
}

// Screenshots as a user's library holds them, taken over two years: a
// picture and three thumbnails each (small real files) and four annotations,
// one of them a drawn stroke, made through the engine as captures and edits
// make them and then synchronised (no change waits to be sent).
void buildLibrary(const QTemporaryDir &dir, int screenshotCount)
{
    if (!openBenchStore(dir))
        die("cannot open the store to fill");
    const QByteArray picture = encoded(filledImage(QSize(64, 40), Qt::darkCyan), "PNG");
    const QByteArray thumbnail = encoded(filledImage(QSize(16, 10), Qt::darkCyan), "JPG");
    QPolygonF stroke;
    for (int i = 0; i < 120; ++i)
        stroke.append(QPointF(10.25 + i * 1.5, 40.5 + (i % 17) * 2.25));
    const QVariant strokeData = polygonToData(stroke);
    const QDateTime start = QDateTime::currentDateTime().addDays(-730);
    const qint64 spacingSecs = qint64(730) * 86400 / screenshotCount;
    for (int i = 0; i < screenshotCount; ++i) {
        const QDateTime created = start.addSecs(qint64(i) * spacingSecs);
        const Id skrin = createItemWithMembers(
            QStringLiteral("skrin"),
            {{QStringLiteral("x"), 0.0},
             {QStringLiteral("y"), 0.0},
             {QStringLiteral("w"), 64},
             {QStringLiteral("h"), 40},
             {QStringLiteral("title"), QStringLiteral("Capture %1").arg(i)},
             {QStringLiteral("desc"), QString("")},
             {QStringLiteral("handle"), QStringLiteral("h%1").arg(i, 7, 10, QLatin1Char('0'))},
             {QStringLiteral("file"), Database::storeNewFile(picture, QStringLiteral(".png"))},
             {QStringLiteral("thumbnail64_file"), Database::storeNewFile(thumbnail, QStringLiteral(".jpg"))},
             {QStringLiteral("thumbnail128_file"), Database::storeNewFile(thumbnail, QStringLiteral(".jpg"))},
             {QStringLiteral("thumbnail512_file"), Database::storeNewFile(thumbnail, QStringLiteral(".jpg"))},
             {QStringLiteral("trashed"), 0},
             {QStringLiteral("published"), 1},
             {QStringLiteral("created"), created},
             {QStringLiteral("modified"), created}});
        createItemWithMembers(QStringLiteral("skrin_image"),
                              {{QStringLiteral("parent"), skrin},
                               {QStringLiteral("w"), 64},
                               {QStringLiteral("h"), 40},
                               {QStringLiteral("src_w"), 64},
                               {QStringLiteral("src_h"), 40}});
        createItemWithMembers(QStringLiteral("skrin_arrow"),
                              {{QStringLiteral("parent"), skrin}, {QStringLiteral("x"), 4.0}, {QStringLiteral("w"), 20.0}});
        createItemWithMembers(QStringLiteral("skrin_pen"),
                              {{QStringLiteral("parent"), skrin},
                               {QStringLiteral("color"), QStringLiteral("#ff0000")},
                               {QStringLiteral("pen_size"), 3.0},
                               {QStringLiteral("data"), strokeData}});
        createItemWithMembers(QStringLiteral("skrin_text"),
                              {{QStringLiteral("parent"), skrin}, {QStringLiteral("text"), QStringLiteral("Note %1").arg(i)}});
        if (i % 500 == 499 && !Database::flush())
            die("cannot write the store");
    }
    // Nothing waits for a render or to be sent: the program starts as it
    // would on a settled library.
    for (const char *table : {"dirt_skrin", "uncommitted_create", "uncommitted_set", "uncommitted_remove"}) {
        RowCursor rows = Database::allRows(Database::tableId(QString::fromLatin1(table)));
        while (rows.next())
            Database::removeRow(rows);
    }
    if (!Database::flush() || !Database::close())
        die("cannot write the store");
}

// Starts the program in `folder`; the milliseconds to its first paint, and
// (with `measureMemory`) its resident kilobytes 2 s after it.
double startOnce(const QString &folder, bool measureMemory, qint64 *residentKb)
{
    QProcess program;
    program.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PELLIMORE_FIRST_PAINT_CLOSE_MS"),
                       QString::number(measureMemory ? memoryDelayMs + 500 : 0));
    program.setProcessEnvironment(environment);
    program.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    // Another build of the program may be measured in its place, for a
    // comparison on the same libraries.
    const QString other = qEnvironmentVariable("PELLIMORE_BENCH_PROGRAM");
    program.start(other.isEmpty() ? QStringLiteral(PELLIMORE_PROGRAM) : other, {QStringLiteral("--portable")});
    QByteArray said;
    while (!said.contains("first paint\n")) {
        if (!program.waitForReadyRead(30000))
            die("the program did not paint its window");
        said += program.readAllStandardOutput();
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (measureMemory) {
        QThread::msleep(memoryDelayMs);
        QFile status(QStringLiteral("/proc/%1/status").arg(program.processId()));
        if (!status.open(QIODevice::ReadOnly))
            die("cannot read the program's memory");
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                *residentKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
        die("the program did not end cleanly");
    return ms;
}

void startupTime(benchmark::State &state, Library *library)
{
    for (auto _ : state) {
        const double full = startOnce(library->folder, false, nullptr);
        const double empty = startOnce(emptyFolder, false, nullptr);
        library->time.full = std::min(library->time.full, full);
        library->time.empty = std::min(library->time.empty, empty);
        state.SetIterationTime((full + empty) / 1000);
        state.counters["full_ms"] = full;
        state.counters["empty_ms"] = empty;
    }
}

void startupMemory(benchmark::State &state, Library *library)
{
    for (auto _ : state) {
        qint64 full = 0;
        qint64 empty = 0;
        const double fullMs = startOnce(library->folder, true, &full);
        const double emptyMs = startOnce(emptyFolder, true, &empty);
        if (full <= 0 || empty <= 0)
            die("no resident memory read");
        library->memory.full = std::min(library->memory.full, double(full));
        library->memory.empty = std::min(library->memory.empty, double(empty));
        state.SetIterationTime((fullMs + emptyMs) / 1000);
        state.counters["full_mb"] = double(full) / 1024;
        state.counters["empty_mb"] = double(empty) / 1024;
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir smallDir;
    QTemporaryDir largeDir;
    QTemporaryDir empty;
    if (!smallDir.isValid() || !largeDir.isValid() || !empty.isValid())
        die("no temporary folder");
    small.folder = smallDir.path();
    large.folder = largeDir.path();
    // For repeated runs and profiling by hand: the libraries are kept in
    // the folder given, and made there only when missing.
    const QString kept = qEnvironmentVariable("PELLIMORE_BENCH_LIBRARIES");
    if (!kept.isEmpty() && !QDir().mkpath(kept))
        die("cannot make the folder of the libraries");
    for (Library *library : {&small, &large}) {
        if (!kept.isEmpty())
            library->folder = QStringLiteral("%1/%2").arg(kept).arg(library->count);
        if (!QFile::exists(library->folder + QStringLiteral("/database.db"))) {
            const QTemporaryDir made(library->folder + QStringLiteral(".making"));
            if (!made.isValid())
                die("no folder to make a library in");
            buildLibrary(made, library->count);
            QDir().rmdir(library->folder);
            if (!QDir().rename(made.path(), library->folder))
                die("cannot keep the library");
        }
    }
    emptyFolder = empty.path();
    // The first starts make the empty store and settle what the program
    // writes once; neither is measured.
    startOnce(small.folder, false, nullptr);
    startOnce(large.folder, false, nullptr);
    startOnce(emptyFolder, false, nullptr);

    benchmark::RegisterBenchmark("startup_5000_over_empty/first_paint", startupTime, &small)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("startup_20000_over_empty/first_paint", startupTime, &large)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("startup_5000_memory_over_empty/resident_after_2s", startupMemory, &small)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    constexpr double none = std::numeric_limits<double>::max();
    if (small.time.empty == none || large.time.empty == none || small.memory.empty == none) {
        std::fprintf(stderr, "bench_startup: a benchmark did not run (filtered out?)\n");
        return 1;
    }
    std::printf("first paint %.1f ms with 5,000 screenshots, %.1f ms empty; %.1f ms with 20,000, %.1f ms empty; "
                "resident %.1f MB against %.1f MB\n",
                small.time.full, small.time.empty, large.time.full, large.time.empty, small.memory.full / 1024,
                small.memory.empty / 1024);
    std::printf("ratio startup_5000_over_empty %.6f\n", small.time.full / small.time.empty);
    std::printf("ratio startup_20000_over_empty %.6f\n", large.time.full / large.time.empty);
    std::printf("ratio startup_5000_memory_over_empty %.6f\n", small.memory.full / small.memory.empty);
    return 0;
}
