// The editor's scene with many annotations:
//
// - editor_open_1000: building the Skrin of a screenshot with 1,000
//   annotation rows (all twelve kinds, in turn) until every item exists,
//   against readItem of the same 1,000 rows, the least that showing them
//   must read.
// - scene_paint_1080p: painting the scene with 200 shown items (rectangles,
//   ellipses and their frames, lines, arrows, pen and marker strokes, texts,
//   pictures) into a 1920x1080 image, against painting the same shapes
//   straight onto the image with QPainter. Blur is left out: its pixelation
//   has no plain-painter equivalent and has its own benchmark.
//
// Project and anchor are timed alternately in one loop, so that a change of
// machine load falls on both alike. Output ends with one
// "ratio <name> <project time / anchor time>" line each.

#include "benchstore.h"
#include "database.h"
#include "engine.h"
#include "imagecache.h"
#include "pairtiming.h"
#include "polygondata.h"
#include "recordingreporter.h"
#include "skrin.h"
#include "skrinitem.h"
#include "tavrinconnector.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const QString pictureFile = QStringLiteral("bench-picture.png");
const QSize canvasSize(1920, 1080);

// One annotation as stored, and how a plain painter draws the same.
struct Shape
{
    QString table;
    QVariantMap members;
    std::function<void(QPainter &)> paint;
};

// A wavy 40-point stroke in item coordinates.
QPolygonF strokePoints(int index)
{
    QPolygonF points;
    for (int i = 0; i < 40; ++i)
        points << QPointF(i * 4.0, 20.0 * std::sin((i + index) * 0.3));
    return points;
}

// The i-th annotation: kinds in turn, spread over a 1080p picture.
Shape makeShape(int i, bool withPins)
{
    static const char *const paintedTables[] = {"skrin_rectangle", "skrin_rectangle_frame", "skrin_ellipse",
                                                "skrin_ellipse_frame", "skrin_line", "skrin_arrow",
                                                "skrin_pen", "skrin_marker", "skrin_text", "skrin_image"};
    const QStringList allTables = Skrin::itemTables();
    const QString table = withPins ? allTables.at(i % allTables.size())
                                   : QString::fromLatin1(paintedTables[i % std::size(paintedTables)]);
    const double x = 40 + (i * 173) % 1700;
    const double y = 40 + (i * 97) % 900;
    const QColor colour = QColor::fromHsv((i * 37) % 360, 200, 220);
    QVariantMap m{{"x", x}, {"y", y}, {"z", double(i + 1)}, {"color", colour.name()}};
    Shape shape{table, {}, {}};
    const QRectF box(x, y, 120, 70);
    if (table.startsWith(QLatin1String("skrin_rectangle")) || table.startsWith(QLatin1String("skrin_ellipse"))) {
        const bool frame = table.endsWith(QLatin1String("_frame"));
        const bool ellipse = table.startsWith(QLatin1String("skrin_ellipse"));
        m.insert({{"w", 120.0}, {"h", 70.0}});
        if (frame)
            m.insert("pen_size", 5.0);
        shape.paint = [=](QPainter &p) {
            p.setPen(frame ? QPen(colour, 5) : Qt::NoPen);
            p.setBrush(frame ? Qt::NoBrush : QBrush(colour));
            const QRectF r = frame ? box.adjusted(-2.5, -2.5, 2.5, 2.5) : box;
            ellipse ? p.drawEllipse(r) : p.drawRect(r);
        };
    } else if (table == QLatin1String("skrin_line") || table == QLatin1String("skrin_arrow")) {
        const bool arrow = table == QLatin1String("skrin_arrow");
        m.insert({{"begin_x", 0.0}, {"begin_y", 0.0}, {"end_x", 120.0}, {"end_y", 60.0}, {"pen_size", 5.0}});
        shape.paint = [=](QPainter &p) {
            p.setPen(QPen(colour, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(colour);
            const QLineF line(x, y, x + 120, y + 60);
            p.drawLine(line);
            if (arrow) {
                const QLineF back = QLineF(line.p2(), line.p1()).unitVector();
                const QPointF d = (back.p2() - back.p1()) * 20;
                const QPointF n(-d.y() / 2, d.x() / 2);
                p.drawPolygon(QPolygonF{line.p2(), line.p2() + d + n, line.p2() + d - n});
            }
        };
    } else if (table == QLatin1String("skrin_pen") || table == QLatin1String("skrin_marker")
               || table == QLatin1String("skrin_blur")) {
        const bool marker = table == QLatin1String("skrin_marker");
        const QPolygonF points = strokePoints(i);
        m.insert({{"data", polygonToData(points)}, {"pen_size", marker ? 25.0 : 3.0}});
        shape.paint = [=](QPainter &p) {
            QColor c = colour;
            if (marker)
                c.setAlphaF(0.3f);
            p.setPen(QPen(c, marker ? 25 : 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(points.translated(x, y));
        };
    } else if (table == QLatin1String("skrin_text")) {
        const QString text = QStringLiteral("Note %1: look here").arg(i);
        m.insert({{"data", text}, {"font_name", "DejaVu Sans"}, {"font_size", 12.0}, {"font_weight", 50},
                  {"font_italic", 0}, {"font_underline", 0}, {"font_strikeout", 0}});
        shape.paint = [=](QPainter &p) {
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPointSizeF(12);
            p.setFont(font);
            p.setPen(colour);
            p.drawText(QRectF(x + 4, y + 4, 400, 40), Qt::AlignLeft | Qt::AlignTop, text);
        };
    } else if (table == QLatin1String("skrin_image")) {
        m.insert({{"w", 160.0}, {"h", 90.0}, {"src_x", 0.0}, {"src_y", 0.0}, {"src_w", 320.0}, {"src_h", 180.0},
                  {"file", pictureFile}});
        shape.paint = [=](QPainter &p) {
            p.drawPixmap(QRectF(x, y, 160, 90), cachedPixmap(pictureFile), QRectF(0, 0, 320, 180));
        };
    } else if (table == QLatin1String("skrin_pin")) {
        m.insert({{"data", QStringLiteral("Pin %1").arg(i)}, {"opened", i % 2}});
    }
    shape.members = m;
    return shape;
}

struct Screenshot
{
    Id id = 0;
    std::vector<Id> rows;
    std::vector<Shape> shapes;
};

Screenshot makeScreenshot(int count, bool withPins)
{
    Screenshot shot;
    shot.id = createItem(QStringLiteral("skrin"));
    setMember(shot.id, QStringLiteral("created"), QDateTime::currentDateTime());
    for (int i = 0; i < count; ++i) {
        Shape shape = makeShape(i, withPins);
        const Id id = createItem(shape.table);
        for (auto it = shape.members.cbegin(); it != shape.members.cend(); ++it)
            setMember(id, it.key(), it.value());
        setMember(id, QStringLiteral("parent"), shot.id);
        shot.rows.push_back(id);
        shot.shapes.push_back(std::move(shape));
    }
    return shot;
}

Screenshot openShot;
Screenshot paintShot;

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A scene's teardown frees tens of thousands of small blocks, which the
    // C library merges only on the next large request: make that request
    // here, so that the merging is counted with the teardown and not with
    // the next scene built (readItem, its anchor, makes no large request).
    std::free(std::malloc(1 << 20));
}

// --- editor_open_1000 -------------------------------------------------------

void editorOpen(benchmark::State &state)
{
    std::unique_ptr<Skrin> scene;
    runPair(
        state, "editor_open_1000",
        [&] {
            scene = std::make_unique<Skrin>(openShot.id);
            benchmark::DoNotOptimize(scene->annotationItems().size());
        },
        [] {
            for (const Id id : openShot.rows)
                benchmark::DoNotOptimize(readItem(id).size());
        },
        [&] {
            scene.reset();
            settle();
        });
}

// --- scene_paint_1080p ------------------------------------------------------

void scenePaint(benchmark::State &state)
{
    Skrin scene(paintShot.id);
    QGraphicsView view(&scene);
    view.resize(canvasSize);
    scene.setTool(Skrin::ToolSelect); // picture items are shown once a tool is taken
    QImage canvas(canvasSize, QImage::Format_ARGB32_Premultiplied);
    const QRectF area(QPointF(0, 0), canvasSize);
    int shown = 0;
    for (SkrinItem *item : scene.annotationItems())
        shown += item->graphicsItem()->isVisible() ? 1 : 0;
    if (shown != int(paintShot.rows.size()))
        state.SkipWithError("not every item is shown");
    runPair(
        state, "scene_paint_1080p",
        [&] {
            canvas.fill(Skrin::backgroundColor());
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::Antialiasing);
            scene.render(&painter, area, area);
        },
        [&] {
            canvas.fill(Skrin::backgroundColor());
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::Antialiasing);
            for (const Shape &shape : paintShot.shapes)
                shape.paint(painter);
        },
        [] {});
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!openBenchStore(dir))
        return 1;
    QPixmap picture(320, 180);
    picture.fill(Qt::darkCyan);
    cachePixmap(pictureFile, picture);

    openShot = makeScreenshot(1000, true);
    paintShot = makeScreenshot(200, false);

    // Sanity: every row gets its item, and the painted scene shows them all.
    {
        Skrin probe(openShot.id);
        if (probe.annotationItems().size() != qsizetype(openShot.rows.size())) {
            std::fprintf(stderr, "the scene built %d items of %d rows\n", int(probe.annotationItems().size()),
                         int(openShot.rows.size()));
            return 1;
        }
    }
    settle();

    benchmark::RegisterBenchmark("editor_open_1000/skrin+readItem", editorOpen)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
    benchmark::RegisterBenchmark("scene_paint_1080p/scene+painter", scenePaint)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    Database::close();

    return printPairRatios({"editor_open_1000", "scene_paint_1080p"});
}
