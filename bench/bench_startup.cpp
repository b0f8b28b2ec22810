// The program's start with a grown library against its start with an empty
// one: each start a fresh process of the Release program in a portable data
// folder, measured to its main window's first paint.
//
// Output ends with:
//   ratio startup_5000_over_empty         time to the first paint, 5,000 screenshots / empty (best of five each)
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

constexpr int screenshotCount = 5000;
constexpr int memoryDelayMs = 2000;

QString fullFolder;
QString emptyFolder;

struct Best
{
    double full = std::numeric_limits<double>::max();
    double empty = std::numeric_limits<double>::max();
};
Best bestTime;
Best bestMemory;

void die(const char *what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what);
    std::exit(1);
}

// 5,000 screenshots as a user's library holds them: a picture and three
// thumbnails each (small real files) and four annotations, one of them a
// drawn stroke, made through the engine as captures and edits make them and
// then synchronised (no change waits to be sent).
void buildLibrary(const QTemporaryDir &dir)
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
    for (int i = 0; i < screenshotCount; ++i) {
        const QDateTime created = start.addSecs(qint64(i) * 12600);
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
    program.start(QStringLiteral(PELLIMORE_PROGRAM), {QStringLiteral("--portable")});
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

void startupTime(benchmark::State &state)
{
    for (auto _ : state) {
        const double full = startOnce(fullFolder, false, nullptr);
        const double empty = startOnce(emptyFolder, false, nullptr);
        bestTime.full = std::min(bestTime.full, full);
        bestTime.empty = std::min(bestTime.empty, empty);
        state.SetIterationTime((full + empty) / 1000);
        state.counters["full_ms"] = full;
        state.counters["empty_ms"] = empty;
    }
}

void startupMemory(benchmark::State &state)
{
    for (auto _ : state) {
        qint64 full = 0;
        qint64 empty = 0;
        const double fullMs = startOnce(fullFolder, true, &full);
        const double emptyMs = startOnce(emptyFolder, true, &empty);
        if (full <= 0 || empty <= 0)
            die("no resident memory read");
        bestMemory.full = std::min(bestMemory.full, double(full));
        bestMemory.empty = std::min(bestMemory.empty, double(empty));
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
    QTemporaryDir full;
    QTemporaryDir empty;
    if (!full.isValid() || !empty.isValid())
        die("no temporary folder");
    buildLibrary(full);
    // For profiling a start by hand: the library stays, and its folder is said.
    if (qEnvironmentVariableIsSet("PELLIMORE_BENCH_KEEP_LIBRARY")) {
        full.setAutoRemove(false);
        std::printf("library in %s\n", qPrintable(full.path()));
    }
    fullFolder = full.path();
    emptyFolder = empty.path();
    // The first starts make the empty store and settle what the program
    // writes once; neither is measured.
    startOnce(fullFolder, false, nullptr);
    startOnce(emptyFolder, false, nullptr);

    benchmark::RegisterBenchmark("startup_5000_over_empty/first_paint", startupTime)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("startup_5000_memory_over_empty/resident_after_2s", startupMemory)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (bestTime.empty == std::numeric_limits<double>::max() || bestMemory.empty == std::numeric_limits<double>::max()) {
        std::fprintf(stderr, "bench_startup: a benchmark did not run (filtered out?)\n");
        return 1;
    }
    std::printf("first paint %.1f ms with 5,000 screenshots, %.1f ms empty; resident %.1f MB against %.1f MB\n",
                bestTime.full, bestTime.empty, bestMemory.full / 1024, bestMemory.empty / 1024);
    std::printf("ratio startup_5000_over_empty %.6f\n", bestTime.full / bestTime.empty);
    std::printf("ratio startup_5000_memory_over_empty %.6f\n", bestMemory.full / bestMemory.empty);
    return 0;
}
