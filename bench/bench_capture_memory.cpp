// The program's resident memory over many captures in one process, against
// what its heap holds alive. Each round is a user's: a capture of 1600x1000
// through the window (stored, encoded, rendered and opened in the editor), a
// title and three annotations; the next capture leaves the screenshot, which
// renders it again with its annotations. The window runs offscreen on a real
// store; nothing leaves the machine.
//
// Output ends with:
//   ratio capture_rounds_resident_over_live  resident growth / live heap growth, rounds 10 to 50

#include "enginestart.h"
#include "heapmemory.h"
#include "imagecache.h"
#include "mainwindow.h"
#include "openstore.h"
#include "residentbytes.h"
#include "tavrinconnector.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThreadPool>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdio>

namespace {

constexpr int warmRounds = 10;
constexpr int measuredRounds = 40;

struct Figures
{
    qint64 resident = 0;
    qint64 live = 0;
};

Figures measure()
{
    Figures figures;
    figures.resident = residentBytes();
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    figures.live = qint64(info.uordblks + info.hblkhd);
#endif
    return figures;
}

// A screen's worth of picture: panels, text-like noise and a gradient, so
// that the encoders work as on a real desktop.
QPixmap screenPicture(int round)
{
    QImage image(1600, 1000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 1600, 1000);
    gradient.setColorAt(0, QColor::fromHsv((round * 37) % 360, 90, 200));
    gradient.setColorAt(1, QColor(240, 240, 235));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random{quint32(round)};
    for (int i = 0; i < 300; ++i) {
        painter.fillRect(QRect(random.bounded(1560), random.bounded(980), random.bounded(4, 40), random.bounded(2, 14)),
                         QColor::fromRgb(random.generate() | 0xff000000u));
    }
    painter.end();
    return QPixmap::fromImage(image);
}

void settle()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThreadPool::globalInstance()->waitForDone();
    Database::flush();
}

void captureRound(MainWindow &window, int round)
{
    window.onShoot(screenPicture(round));
    const Id skrin = window.currentSkrinId();
    setMember(skrin, QStringLiteral("title"), QStringLiteral("Round %1").arg(round));
    addRow(QStringLiteral("skrin_pen"), skrin,
           {{"x", 100.0}, {"y", 100.0}, {"z", 1.0}, {"pen_size", 4.0}, {"color", "#ff0000"},
            {"data", "[0,0,40,30,80,10,120,60,160,20]"}});
    addRow(QStringLiteral("skrin_text"), skrin,
           {{"x", 300.0}, {"y", 200.0}, {"z", 2.0}, {"data", QStringLiteral("Note %1").arg(round)},
            {"font_name", "DejaVu Sans"}, {"font_size", 18.0}, {"font_weight", 75}, {"font_italic", 0},
            {"font_underline", 0}, {"font_strikeout", 0}, {"color", "#202020"}});
    addRow(QStringLiteral("skrin_rectangle_frame"), skrin,
           {{"x", 500.0}, {"y", 400.0}, {"z", 3.0}, {"w", 300.0}, {"h", 200.0}, {"pen_size", 6.0},
            {"color", "#0050ff"}});
    settle();
    // A user's round takes longer than the caches keep a picture: the
    // upkeep's pass, as it comes then.
    imageCacheUpkeep(QDateTime::currentDateTime().addSecs(4));
}

MainWindow *theWindow = nullptr;
Figures warm;
Figures end;

void captureRounds(benchmark::State &state)
{
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < warmRounds + measuredRounds; ++round) {
            captureRound(*theWindow, round);
            if (round + 1 == warmRounds)
                warm = measure();
        }
        end = measure();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.counters["resident_mb"] = double(end.resident) / 1e6;
        state.counters["live_mb"] = double(end.live) / 1e6;
    }
}

} // namespace

int main(int argc, char **argv)
{
    // As the program starts.
    limitHeapArenas(programHeapArenas);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !engineStartInFolder(dir.path(), &error)) {
        std::fprintf(stderr, "bench_capture_memory: cannot open the store: %s\n", qPrintable(error));
        return 1;
    }
    TavrinConnector::stopSync();
    {
        MainWindow window;
        window.show();
        theWindow = &window;
        benchmark::RegisterBenchmark("capture_rounds_50", captureRounds)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        theWindow = nullptr;
        window.close();
    }
    const double rounds = measuredRounds;
    const double residentGrowth = double(end.resident - warm.resident);
    const double liveGrowth = double(end.live - warm.live);
    std::printf("per round: resident %+.1f kB, live heap %+.1f kB; after round %d resident %.1f MB, live heap "
                "%.1f MB; at the end %.1f MB, %.1f MB\n",
                residentGrowth / rounds / 1e3, liveGrowth / rounds / 1e3, warmRounds, double(warm.resident) / 1e6,
                double(warm.live) / 1e6, double(end.resident) / 1e6, double(end.live) / 1e6);
    // A heap that does not grow leaves the resident growth alone to weigh.
    std::printf("ratio capture_rounds_resident_over_live %.2f\n",
                residentGrowth / std::max(liveGrowth, rounds * 1024.0));
    return 0;
}
