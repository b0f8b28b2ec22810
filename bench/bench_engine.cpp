// The item engine against the table store underneath it, on one store of
// 100,000 pen rows (10 per screenshot):
//
// - engine_find_children_100k: findItems({"type": T, "parent": p}) giving 10
//   of 100,000 rows of T, against Database::select on the parent index alone.
// - engine_set_member_watchers: setMember of one item while 1,000 open
//   watchers (type and parent of other screenshots) and 10,000 item watchers
//   of other items are registered, against the same setMember with none.
// - engine_items_5000: constructing 5,000 Items that watch their own complete
//   row (each gets its onInit), against readItem of the same 5,000 rows.
//
// Where it can, a benchmark times project and anchor alternately in one loop.
//
// Output ends with one "ratio <name> <project time / anchor time>" line each.

#include "database.h"
#include "engine.h"
#include "storetables.h"
#include "item.h"
#include "pairtiming.h"
#include "recordingreporter.h"
#include "tavrinconnector.h"
#include "watcher.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr int penCount = 100000;
constexpr int childrenPerShot = 10;
constexpr int shotCount = penCount / childrenPerShot;
constexpr Id firstShot = 1000000;
constexpr Id firstPen = 2000000;
const QString penType = QStringLiteral("skrin_pen");

int penTable = -1;
int penParentColumn = -1;

Id shotId(int i)
{
    return firstShot + i;
}

Id penId(int i)
{
    return firstPen + i;
}

// Rows as the web service would have sent them: items rows and pen rows with
// every member set, the pens of one screenshot next to each other (the
// editor makes them together).
void buildStore()
{
    penTable = Database::tableId(penType);
    penParentColumn = Database::columnId(penTable, QStringLiteral("parent"));
    const auto column = [](const char *name) { return Database::columnId(penTable, QString::fromLatin1(name)); };
    for (int i = 0; i < penCount; ++i) {
        const Id id = penId(i);
        Database::insertRow(storeTables().itemsTable,
            {{storeTables().itemsIdColumn, id}, {storeTables().itemsTypeColumn, penType},
                {storeTables().itemsOwnerColumn, Id(0)}});
        Database::insertRow(penTable, {{column("id"), id},
                                       {column("parent"), shotId(i / childrenPerShot)},
                                       {column("x"), double(i % 800)},
                                       {column("y"), double(i % 600)},
                                       {column("z"), double(i)},
                                       {column("color"), QStringLiteral("#ff0000")},
                                       {column("pen_size"), 3.0},
                                       {column("data"), QStringLiteral("[0,0,10,10,20,5]")}});
    }
    Database::flush();
}

class QuietWatcher : public WatcherInterface
{
};

class PenItem : public Item
{
public:
    explicit PenItem(Id id)
        : Item(id)
    {
        watchMembers(QStringLiteral("parent,x,y,z,color,pen_size,data"));
    }
    static inline int inits = 0;

protected:
    void init() override { ++inits; }
};

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}


// --- engine_find_children_100k ---------------------------------------------------

// Project and anchor look up different screenshots, spread over the store, so
// that neither finds the index in the cache the other just warmed.
int projectShot(int n)
{
    return int((qint64(n) * 7919) % shotCount);
}

int anchorShot(int n)
{
    return (projectShot(n) + shotCount / 2) % shotCount;
}

void findChildren(benchmark::State &state)
{
    runPair(
        state, "engine_find_children_100k",
        [](int n) {
            const QList<Id> ids = findItems({{QStringLiteral("type"), penType},
                                             {QStringLiteral("parent"), shotId(projectShot(n))}});
            benchmark::DoNotOptimize(ids.size());
        },
        [](int n) {
            const RowCursor cursor = Database::select(penTable, penParentColumn, QVariant(shotId(anchorShot(n))));
            benchmark::DoNotOptimize(cursor.rows.size());
        },
        nullptr);
}

// --- engine_set_member_watchers --------------------------------------------------------

// The pen written: its screenshot is none of the watched ones.
const Id writtenPen = penId(penCount - 1);

void setMemberLoop(benchmark::State &state)
{
    double x = 0;
    for (auto _ : state)
        setMember(writtenPen, QStringLiteral("x"), x += 1.0);
}

void setMemberAlone(benchmark::State &state)
{
    setMemberLoop(state);
}

void setMemberWatched(benchmark::State &state)
{
    std::vector<std::unique_ptr<QuietWatcher>> watchers;
    for (int i = 0; i < 1000; ++i) {
        watchers.push_back(std::make_unique<QuietWatcher>());
        watchers.back()->watch({{QStringLiteral("type"), penType}, {QStringLiteral("parent"), shotId(i)}});
    }
    for (int i = 0; i < 10000; ++i) {
        watchers.push_back(std::make_unique<QuietWatcher>());
        watchers.back()->watch({{QStringLiteral("id"), penId(shotCount + i)}});
    }
    setMemberLoop(state);
    watchers.clear();
    settle();
}

// --- engine_items_5000 -------------------------------------------------------------------

constexpr int itemCount = 5000;

void items5000(benchmark::State &state)
{
    std::vector<std::unique_ptr<PenItem>> items;
    items.reserve(itemCount);
    runPair(
        state, "engine_items_5000",
        [&items](int) {
            for (int i = 0; i < itemCount; ++i)
                items.push_back(std::make_unique<PenItem>(penId(i)));
        },
        [](int) {
            for (int i = 0; i < itemCount; ++i)
                benchmark::DoNotOptimize(readItem(penId(i)).size());
        },
        [&items] {
            items.clear();
            settle();
        });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    registerEngineTypes();
    TavrinConnector::create();
    QString error;
    if (!dir.isValid() || !Database::open(dir.path(), &error)) {
        std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(error));
        return 1;
    }
    bindTables();
    buildStore();

    // Sanity: the engine finds what the index holds, and Items initialise.
    const QList<Id> children = findItems({{QStringLiteral("type"), penType}, {QStringLiteral("parent"), shotId(7)}});
    if (children.size() != childrenPerShot
        || Database::select(penTable, penParentColumn, QVariant(shotId(7))).rows.size() != childrenPerShot) {
        std::fprintf(stderr, "findItems found %d children, expected %d\n", int(children.size()), childrenPerShot);
        return 1;
    }
    {
        PenItem probe(penId(0));
        if (PenItem::inits != 1) {
            std::fprintf(stderr, "an Item over a complete row did not initialise\n");
            return 1;
        }
    }
    settle();

    benchmark::RegisterBenchmark("find_children/engine+select", findChildren)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("set_member/alone", setMemberAlone)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("set_member/watched", setMemberWatched)->Unit(benchmark::kMicrosecond);
    // A few rounds at least: one round takes some 80 ms.
    benchmark::RegisterBenchmark("items_5000/construct+readItem", items5000)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.3);

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    Database::close();

    const auto time = [&reporter](const char *name) { return reporter.time(name); };
    const auto pair = [](const char *name) {
        const auto it = pairTotals().find(name);
        return it == pairTotals().end() ? PairTotals() : it->second;
    };
    const struct
    {
        const char *name;
        double project;
        double anchor;
    } ratios[] = {
        {"engine_find_children_100k", pair("engine_find_children_100k").project,
         pair("engine_find_children_100k").anchor},
        {"engine_set_member_watchers", time("set_member/watched"), time("set_member/alone")},
        {"engine_items_5000", pair("engine_items_5000").project, pair("engine_items_5000").anchor},
    };
    for (const auto &ratio : ratios) {
        if (ratio.project <= 0.0 || ratio.anchor <= 0.0) {
            std::fprintf(stderr, "%s: a benchmark did not run (filtered out?)\n", ratio.name);
            return 1;
        }
    }
    for (const auto &ratio : ratios)
        std::printf("ratio %s %.6f\n", ratio.name, ratio.project / ratio.anchor);
    return 0;
}
