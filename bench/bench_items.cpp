// Annotation items on the editor's scene:
//
// - stroke_drawto_2000: one drawTo at the 2,000th point of a pen stroke (the
//   point appended, the whole `data` text stored, the region scheduled for
//   repaint), against JsonCodec::serialize of the same 2,000-point list, the
//   least that storing the stroke at each point must do.
// - blur_pixelate_1080p: pixelateUnderMask over a 1920x1080 picture under a
//   full-width stroke, against QImage::scaled down by 6 and back up (fast
//   transformation) of the same picture.
//
// Project and anchor are timed alternately in one loop, so that a change of
// machine load falls on both alike. Output ends with one
// "ratio <name> <project time / anchor time>" line each.

#include "benchstore.h"
#include "database.h"
#include "engine.h"
#include "jsoncodec.h"
#include "pixelate.h"
#include "pairtiming.h"
#include "polygondata.h"
#include "recordingreporter.h"
#include "skrin.h"
#include "skrinpen.h"
#include "tavrinconnector.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QGraphicsView>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace {


// --- stroke_drawto_2000 -------------------------------------------------------------

// A hand-drawn wave: points about two units apart, as mouse moves give them.
QPointF strokePoint(int i)
{
    return QPointF(50 + i * 0.37, 300 + 120 * std::sin(i * 0.013) + (i % 7) * 0.25);
}

struct StrokeFixture
{
    Skrin *scene = nullptr;
    SkrinPen *pen = nullptr;
    QVariant startData;  // the first 1,999 points
    QVariantList anchorList; // the 2,000 points as numbers, x and y in turn
};
StrokeFixture stroke;

bool buildStroke(Skrin *scene)
{
    QPolygonF points;
    for (int i = 0; i < 1999; ++i)
        points.append(strokePoint(i));
    stroke.startData = polygonToData(points);
    points.append(strokePoint(1999));
    for (const QPointF &p : std::as_const(points))
        stroke.anchorList << p.x() << p.y();

    const Id id = createItem(QStringLiteral("skrin_pen"));
    setMember(id, QStringLiteral("x"), 0.0);
    setMember(id, QStringLiteral("y"), 0.0);
    setMember(id, QStringLiteral("z"), 1.0);
    setMember(id, QStringLiteral("pen_size"), 2.0);
    setMember(id, QStringLiteral("color"), QStringLiteral("#000000"));
    setMember(id, QStringLiteral("data"), stroke.startData);
    setMember(id, QStringLiteral("parent"), scene->id());
    stroke.scene = scene;
    stroke.pen = dynamic_cast<SkrinPen *>(scene->skrinItem(id));
    return stroke.pen && stroke.pen->polygon().size() == 1999;
}

void strokeDrawTo(benchmark::State &state)
{
    const QPointF last = strokePoint(1999);
    runPair(
        state, "stroke_drawto_2000", [&] { stroke.pen->drawTo(last); },
        [] { benchmark::DoNotOptimize(JsonCodec::serialize(stroke.anchorList)); },
        [] { stroke.pen->setPolygonFromData(stroke.startData); });
}

// --- blur_pixelate_1080p --------------------------------------------------------------

QImage blurSource;
QImage blurTarget;
QPolygonF blurStroke;

void buildBlur()
{
    // A screenshot-like picture: flat areas with some detail.
    blurSource = QImage(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    QRandomGenerator random(12);
    for (int y = 0; y < blurSource.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(blurSource.scanLine(y));
        for (int x = 0; x < blurSource.width(); ++x)
            line[x] = (x / 40 + y / 30) % 3 ? qRgb(240, 240, 240) : qRgb(random.bounded(256), 90, 30);
    }
    blurTarget = QImage(blurSource.size(), QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x <= 1920; x += 12)
        blurStroke.append(QPointF(x, 540 + 40 * std::sin(x * 0.01)));
}

void blurPixelate(benchmark::State &state)
{
    const QRect area = blurSource.rect();
    const auto project = [&] {
        QPainter painter(&blurTarget);
        pixelateUnderMask(&painter, blurSource, area, blurStroke, 25.0, QPointF(0, 0));
    };
    const auto anchor = [&] {
        const QImage small =
            blurSource.scaled(area.width() / 6, area.height() / 6, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        benchmark::DoNotOptimize(small.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
    };
    // The first call pays for the allocator's first large blocks; when it is
    // the only timed one (a slow first run ends the estimate at one
    // iteration) it would swing the figure fourfold.
    project();
    anchor();
    runPair(state, "blur_pixelate_1080p", project, anchor, [] {});
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!openBenchStore(dir))
        return 1;

    const Id shot = createItem(QStringLiteral("skrin"));
    setMember(shot, QStringLiteral("created"), QDateTime::currentDateTime());
    int status = 0;
    {
        Skrin scene(shot);
        QGraphicsView view(&scene);
        scene.setTool(Skrin::ToolPen);
        if (!buildStroke(&scene)) {
            std::fprintf(stderr, "the pen stroke was not built from its row\n");
            return 1;
        }
        buildBlur();

        benchmark::RegisterBenchmark("stroke_drawto_2000/drawTo+serialize", strokeDrawTo)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("blur_pixelate_1080p/pixelate+scaled", blurPixelate)
            ->Unit(benchmark::kMillisecond);

        benchmark::Initialize(&argc, argv);
        RecordingReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();

        // The stroke really was stored at its 2,000th point.
        if (dataToPolygon(getMember(stroke.pen->id(), QStringLiteral("data"))).size() != 2000) {
            std::fprintf(stderr, "drawTo did not store the 2,000-point stroke\n");
            status = 1;
        }
    }
    Database::close();
    if (status)
        return status;

    return printPairRatios({"stroke_drawto_2000", "blur_pixelate_1080p"});
}
