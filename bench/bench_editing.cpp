// Edit operations of the editor's scene on many annotations:
//
// - drop_copy_200: a screenshot of 200 annotation rows (strokes, frames,
//   arrows, ellipses, texts) dropped onto another, from the drop event until
//   every copy is an item on the scene, against readItem plus createItem of
//   the same 200 rows, the least any copy must do.
// - duplicate_200: duplicating a selection of the same 200 items on the open
//   screenshot until every copy is on the scene, against the same anchor.
//
// Output ends with one "ratio <name> <project time / anchor time>" line each.

#include "benchstore.h"
#include "database.h"
#include "engine.h"
#include "pairtiming.h"
#include "polygondata.h"
#include "recordingreporter.h"
#include "skrin.h"
#include "skrinitem.h"
#include "skrinsmimedata.h"
#include "tavrinconnector.h"

#include <QApplication>
#include <QDateTime>
#include <QDropEvent>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int rowCount = 200;

Id newScreenshot()
{
    const Id shot = createItem(QStringLiteral("skrin"));
    setMember(shot, QStringLiteral("created"), QDateTime::currentDateTime());
    return shot;
}

// One annotation of a mix a busy screenshot has.
void addAnnotation(Id parent, int i)
{
    static const char *tables[] = {"skrin_pen", "skrin_rectangle_frame", "skrin_arrow", "skrin_ellipse", "skrin_pen",
                                   "skrin_rectangle_frame", "skrin_arrow", "skrin_ellipse", "skrin_pen", "skrin_text"};
    const QString table = QString::fromLatin1(tables[i % 10]);
    const Id id = createItem(table);
    QVariantMap members{{"x", 20.0 + (i * 37) % 700}, {"y", 15.0 + (i * 53) % 500}, {"z", double(i + 1)},
                        {"color", "#ff0000"}, {"pen_size", 5.0}};
    if (table == QLatin1String("skrin_pen")) {
        QPolygonF points;
        for (int p = 0; p < 20; ++p)
            points << QPointF(p * 2.0, (p % 5) * 1.5);
        members.insert("data", polygonToData(points));
    } else if (table == QLatin1String("skrin_arrow")) {
        members.insert({{"begin_x", 0}, {"begin_y", 0}, {"end_x", 80.0}, {"end_y", 30.0}});
    } else if (table == QLatin1String("skrin_text")) {
        members.insert({{"data", "Note"}, {"font_name", "Arial"}, {"font_size", 12.0}, {"font_weight", 50},
                        {"font_italic", 0}, {"font_underline", 0}, {"font_strikeout", 0}});
    } else {
        members.insert({{"w", 90.0}, {"h", 60.0}});
    }
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        setMember(id, it.key(), it.value());
    setMember(id, QStringLiteral("parent"), parent);
}

struct Editing
{
    Skrin *scene = nullptr;
    Id source = 0;
    QList<Id> sourceRows;
    QList<Id> originals; // on the open screenshot
    QList<Id> anchorRows;
    bool complete = true; // every copy arrived on the scene
};
Editing editing;

// The anchor: what any copy of the 200 rows must do at least.
void readAndCreate()
{
    for (const Id row : std::as_const(editing.sourceRows)) {
        const QVariantMap members = readItem(row);
        editing.anchorRows << createItem(members.value(QStringLiteral("type")).toString());
    }
}

// Back to the starting state: the copies and the anchor's rows go, the
// originals are selected again.
void removeCopies()
{
    const QList<Id> onScene = editing.scene->annotationItems().keys();
    if (onScene.size() != 2 * rowCount)
        editing.complete = false;
    for (const Id id : onScene) {
        if (!editing.originals.contains(id))
            removeItem(id);
    }
    for (const Id id : std::as_const(editing.anchorRows))
        removeItem(id);
    editing.anchorRows.clear();
    editing.scene->clearSelection();
    for (const Id id : std::as_const(editing.originals))
        editing.scene->skrinItem(id)->graphicsItem()->setSelected(true);
}

void dropCopy(benchmark::State &state)
{
    SkrinsMimeData mime({editing.source}, {});
    runPair(
        state, "drop_copy_200",
        [&] {
            QDropEvent event(QPointF(300, 200), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
            editing.scene->viewDropEvent(&event);
        },
        readAndCreate, removeCopies);
}

void duplicate(benchmark::State &state)
{
    runPair(state, "duplicate_200", [] { editing.scene->duplicateSelected(); }, readAndCreate, removeCopies);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!openBenchStore(dir))
        return 1;

    editing.source = newScreenshot();
    const Id open = newScreenshot();
    for (int i = 0; i < rowCount; ++i) {
        addAnnotation(editing.source, i);
        addAnnotation(open, i);
    }
    editing.sourceRows = childItems(editing.source);
    {
        Skrin scene(open);
        QGraphicsView view(&scene);
        view.resize(1000, 700);
        scene.setTool(Skrin::ToolSelect);
        editing.scene = &scene;
        editing.originals = scene.annotationItems().keys();
        if (editing.originals.size() != rowCount || editing.sourceRows.size() != rowCount) {
            std::fprintf(stderr, "the screenshots were not built from their rows\n");
            return 1;
        }
        removeCopies();
        editing.complete = true;

        // Enough rounds (some 10 ms each) that one slow round weighs little.
        benchmark::RegisterBenchmark("drop_copy_200/drop+readItem,createItem", dropCopy)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
        benchmark::RegisterBenchmark("duplicate_200/duplicate+readItem,createItem", duplicate)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
        benchmark::Initialize(&argc, argv);
        RecordingReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
    }
    Database::close();
    if (!editing.complete) {
        std::fprintf(stderr, "not every copy arrived on the scene\n");
        return 1;
    }

    return printPairRatios({"drop_copy_200", "duplicate_200"});
}
