// The screenshot renderer and the image saver against the work they cannot
// avoid, on a real store:
//
// - render_skrin_4k: ThumbnailerThread::run for a 3840x2160 image row plus 20
//   annotation rows of mixed kinds, against encoding one 3840x2160 canvas as
//   JPEG at quality 85 plus the three smooth scales and encodes of the
//   thumbnails (each from the one before).
// - image_saver_4k: saveImageAsync of a 3840x2160 capture until its bytes are
//   stored, against QImage::save of the same image into a buffer.
// - render_parallel_8: eight 1920x1080 screenshots rendered at once on the
//   thread pool, against the same eight rendered one after another.
//
// Project and anchor are timed alternately in one loop, so that a change of
// machine load falls on both alike.
//
// Output ends with one "ratio <name> <project time / anchor time>" line each.

#include "benchstore.h"
#include "database.h"
#include "dirtyskrins.h"
#include "engine.h"
#include "imagecache.h"
#include "decodedpicture.h"
#include "imagejobs.h"
#include "pairtiming.h"
#include "recordingreporter.h"
#include "tavrinconnector.h"
#include "thumbnailerthread.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QPainter>
#include <QTemporaryDir>
#include <QThreadPool>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace {


// A picture with some structure, so that the encoders do real work.
QImage capture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(30, 60, 120));
    gradient.setColorAt(1, QColor(230, 220, 200));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 60; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 160, 220));
        painter.drawRect(QRect((i * 211) % size.width(), (i * 97) % size.height(), 200, 40));
        painter.drawText(QPoint((i * 131) % size.width(), (i * 71) % size.height()),
                         QStringLiteral("Window title %1 — some text on the screen").arg(i));
    }
    return image;
}

Id addRow(const QString &table, Id parent, const QVariantMap &members)
{
    const Id id = createItem(table);
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        setMember(id, it.key(), it.value());
    setMember(id, QStringLiteral("parent"), QVariant(qint64(parent)));
    return id;
}

struct Shot
{
    Id skrin = 0;
    QString file;
    QImage image;
};

// One screenshot: a capture of `size` and 20 annotations of mixed kinds.
Shot makeShot(const QSize &size)
{
    Shot shot;
    shot.image = capture(size);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    shot.image.save(&buffer, "JPG", 85);
    shot.file = Database::storeNewFile(bytes, QStringLiteral(".jpg"));
    shot.skrin = createItem(QStringLiteral("skrin"));
    const double w = size.width(), h = size.height();
    addRow("skrin_image", shot.skrin,
           {{"x", 0}, {"y", 0}, {"z", 0}, {"file", shot.file}, {"w", w}, {"h", h}, {"src_x", 0}, {"src_y", 0},
            {"src_w", w}, {"src_h", h}});
    for (int i = 0; i < 20; ++i) {
        const double x = 20 + (i * 173) % int(w - 700), y = 20 + (i * 89) % int(h - 400), z = 1 + i;
        const QString colour = QColor::fromHsv((i * 53) % 360, 255, 230).name();
        QString stroke = QStringLiteral("[");
        for (int p = 0; p < 120; ++p)
            stroke += QStringLiteral("%1,%2,").arg(p * 3).arg(int(40 * std::sin(p / 9.0)) + 60);
        stroke += QStringLiteral("360,60]");
        switch (i % 10) {
        case 0: addRow("skrin_pen", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"pen_size", 5}, {"color", colour}, {"data", stroke}}); break;
        case 1: addRow("skrin_marker", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"pen_size", 20}, {"color", colour}, {"data", stroke}}); break;
        case 2: addRow("skrin_blur", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"pen_size", 24}, {"data", stroke}}); break;
        case 3: addRow("skrin_text", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"data", "A note about this\nsecond line"}, {"font_name", "DejaVu Sans"}, {"font_size", 18}, {"font_weight", 75}, {"color", colour}}); break;
        case 4: addRow("skrin_arrow", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 300}, {"end_y", 120}, {"pen_size", 6}, {"color", colour}}); break;
        case 5: addRow("skrin_line", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"begin_x", 0}, {"begin_y", 200}, {"end_x", 350}, {"end_y", 0}, {"pen_size", 4}, {"color", colour}}); break;
        case 6: addRow("skrin_ellipse", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", 220}, {"h", 140}, {"color", colour}}); break;
        case 7: addRow("skrin_ellipse_frame", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", 260}, {"h", 160}, {"pen_size", 5}, {"color", colour}}); break;
        case 8: addRow("skrin_rectangle", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", 180}, {"h", 90}, {"color", colour}}); break;
        default: addRow("skrin_rectangle_frame", shot.skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", 300}, {"h", 200}, {"pen_size", 4}, {"color", colour}}); break;
        }
    }
    return shot;
}

// Between rounds: the renderer's earlier pictures leave the caches and the
// file store's memory, and each capture is decoded already, as after a capture.
void resetCaches(const QList<Shot> &shots)
{
    evictImageCaches(QDateTime::currentDateTime().addSecs(60));
    Database::flush();
    for (const Shot &shot : shots) {
        cacheImage(shot.file, shot.image);
        markSkrinDirty(shot.skrin);
    }
}

void renderOne(Id skrin)
{
    ThumbnailerThread job(skrin, false);
    job.setAutoDelete(false);
    job.run();
}

QByteArray jpeg(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return bytes;
}

QList<Shot> shots4k;
QList<Shot> shots1080;
QImage canvas4k;
size_t sink = 0;

void renderSkrin4k(benchmark::State &state)
{
    runPair<Between::Before>(
        state, "render_skrin_4k", [] { renderOne(shots4k.first().skrin); },
        [] {
            sink += jpeg(canvas4k).size();
            QImage current = canvas4k;
            for (const int s : {512, 128, 64}) {
                current = current.scaled(s, s, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                sink += jpeg(current).size();
            }
        },
        [] { resetCaches(shots4k); });
}

void imageSaver4k(benchmark::State &state)
{
    const QImage image = shots4k.first().image;
    runPair<Between::Before>(
        state, "image_saver_4k",
        [&image] {
            const QString file = Database::newFileName(QStringLiteral(".jpg"));
            saveImageAsync(image, file, false, 85);
            QThreadPool::globalInstance()->waitForDone();
            sink += Database::fileData(file).size();
        },
        [&image] { sink += jpeg(image).size(); }, [] { resetCaches({}); });
}

void renderParallel8(benchmark::State &state)
{
    runPair<Between::Before>(
        state, "render_parallel_8",
        [] {
            for (const Shot &shot : std::as_const(shots1080))
                QThreadPool::globalInstance()->start(new ThumbnailerThread(shot.skrin, false));
            QThreadPool::globalInstance()->waitForDone();
        },
        [] {
            // The marks were cleared by the parallel round: set them again
            // (cheap, timed alike for every round) and render in a row.
            for (const Shot &shot : std::as_const(shots1080))
                markSkrinDirty(shot.skrin);
            for (const Shot &shot : std::as_const(shots1080))
                renderOne(shot.skrin);
        },
        [] { resetCaches(shots1080); });
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!openBenchStore(dir))
        return 1;
    raiseImageAllocationLimit();
    shots4k.append(makeShot(QSize(3840, 2160)));
    for (int i = 0; i < 8; ++i)
        shots1080.append(makeShot(QSize(1920, 1080)));
    canvas4k = shots4k.first().image.convertToFormat(QImage::Format_ARGB32_Premultiplied);

    // Sanity: a render makes the 4K picture.
    resetCaches(shots4k);
    renderOne(shots4k.first().skrin);
    const QImage rendered = QImage::fromData(
        Database::fileData(getMember(shots4k.first().skrin, QStringLiteral("file")).toString()));
    if (rendered.size() != QSize(3840, 2160) || isSkrinDirty(shots4k.first().skrin)) {
        std::fprintf(stderr, "the renderer did not make the 4K picture\n");
        Database::close();
        return 1;
    }

    benchmark::RegisterBenchmark("render_skrin_4k", renderSkrin4k)->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("image_saver_4k", imageSaver4k)->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("render_parallel_8", renderParallel8)->Unit(benchmark::kMillisecond)->MinTime(1.0);

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    QThreadPool::globalInstance()->waitForDone();
    Database::close();

    std::printf("cores %d\n", QThread::idealThreadCount());
    if (printPairRatios({"render_skrin_4k", "image_saver_4k", "render_parallel_8"}) != 0)
        return 1;
    return sink == 0;
}
