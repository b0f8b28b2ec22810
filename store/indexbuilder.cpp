// The thread that builds declared value indexes ahead of their first use
// (Database::buildDeclaredIndexesSoon), beside the lookups and writes of
// every other thread: it copies the rows under tableMutex a slice at a time,
// and holds it once more, for a walk of the whole table, to bring the index
// up to date.

#include "database_p.h"
#include "indexbuild_p.h"

#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <utility>
#include <vector>

using namespace store_internal;

namespace {

// Rows copied into the snapshot per hold of tableMutex: each costs a
// reference count, so a slice holds the lock for a fraction of a
// millisecond.
constexpr int sliceRows = 2048;

// The thread and what it has yet to build; the mutex is taken alone.
QMutex builderMutex;
QWaitCondition builderIdle;
QThread *builder = nullptr;
bool builderRunning = false;
QList<std::pair<int, int>> toBuild;
std::pair<int, int> current{-1, -1}; // the (table, column) in the making
// Read by the builder between slices, while it holds no lock of its own.
std::atomic<bool> builderStopping{false};
std::function<void()> copiedHook; // set by tests only

bool stillWanted(int table, int column)
{
    return table >= 0 && table < tables.size() && tables.at(table).pendingIndexes.contains(column);
}

// Whether a cell that changed blocks still holds what its index entry was
// made from.
bool sameCell(const QVariant &a, const QVariant &b)
{
    return a.metaType() == b.metaType() && isNullValue(a) == isNullValue(b) && (isNullValue(a) || a == b);
}

// Builds the index of a declared column that is still to be built. The
// rows are copied a slice at a time; a copy shares its cells with the
// table's row, and a write to the row makes the row a block of its own, so
// the copy keeps the cells as they were. The index is built from the copy
// with no lock held, then brought up to date with the rows whose cell changed
// meanwhile, which come first among their equals as if written after it was
// made. A single-row lookup that needs the index before then builds it
// itself, and this one is dropped.
void buildBesideLookups(int table, int column)
{
    TableRows snapshot;
    for (int last = 0;;) {
        if (builderStopping)
            return;
        {
            QMutexLocker locker(&tableMutex);
            if (!stillWanted(table, column))
                return;
            const TableRows &rows = tables.at(table).rows;
            int row = last;
            for (int n = 0; n < sliceRows && (row = rows.next(row)) != 0; ++n)
                snapshot.insert(row, RowCells(*rows.find(row)));
            if (row == 0)
                break;
            last = row;
        }
    }
    if (copiedHook)
        copiedHook();

    ValueIndex index = std::move(buildIndexesOf(snapshot, {column}, false).front());

    // One hold for the whole walk: a write between two slices of it could
    // change a row already walked, unseen.
    QMutexLocker locker(&tableMutex);
    if (builderStopping || !stillWanted(table, column))
        return;
    Table &t = tables[table];
    std::vector<int> erased;
    std::vector<int> entered;
    const int last = std::max(t.rows.last(), snapshot.last());
    for (int row = 1; row <= last; ++row) {
        const RowCells *now = t.rows.find(row);
        const RowCells *then = snapshot.find(row);
        if (now && then && (now->sharesCellsWith(*then) || sameCell(now->at(column), then->at(column))))
            continue;
        if (then)
            erased.push_back(row);
        if (now)
            entered.push_back(row);
    }
    // Every entry is found through the cells it was made from: first the
    // stale ones go, then the current ones come in.
    for (const int row : erased)
        index.erase(row, ColumnCells{snapshot, column});
    for (const int row : entered)
        index.insert(row, t.cellsOf(column));
    t.valueIndexes.insert(column, std::move(index));
    t.pendingIndexes.removeAll(column);
    t.comingIndexes.removeAll(column);
}

// Marks the columns as coming (or no longer) for lookups.
void markComing(const QList<std::pair<int, int>> &columns, bool coming)
{
    QMutexLocker locker(&tableMutex);
    for (const auto &[table, column] : columns) {
        if (table < 0 || table >= tables.size())
            continue;
        Table &t = tables[table];
        t.comingIndexes.removeAll(column);
        if (coming && t.pendingIndexes.contains(column))
            t.comingIndexes.append(column);
    }
}

void buildQueuedIndexes()
{
    QMutexLocker queue(&builderMutex);
    while (!builderStopping && !toBuild.isEmpty()) {
        current = toBuild.takeFirst();
        queue.unlock();
        buildBesideLookups(current.first, current.second);
        queue.relock();
        current = {-1, -1};
    }
    builderRunning = false;
    builderIdle.wakeAll();
}

} // namespace

void Database::buildDeclaredIndexesSoon(const QList<QPair<int, int>> &columns)
{
    QList<std::pair<int, int>> asked;
    for (const auto &[table, column] : columns)
        asked.append({table, column});
    markComing(asked, true);
    QMutexLocker locker(&builderMutex);
    toBuild.append(asked);
    if (builderRunning || toBuild.isEmpty())
        return;
    // One that ran out of work is on its way out, if not gone.
    if (builder)
        builder->wait();
    delete std::exchange(builder, nullptr);
    builderStopping = false;
    builderRunning = true;
    builder = QThread::create(buildQueuedIndexes);
    builder->start();
}

void store_internal::stopIndexBuilder()
{
    QList<std::pair<int, int>> dropped;
    {
        QMutexLocker locker(&builderMutex);
        builderStopping = true;
        dropped = std::exchange(toBuild, {});
        if (current.first >= 0)
            dropped.append(current);
        while (builderRunning)
            builderIdle.wait(&builderMutex);
        if (builder)
            builder->wait();
        delete std::exchange(builder, nullptr);
    }
    // Left to be built on first use again.
    markComing(dropped, false);
}

void store_internal::waitForIndexBuilder()
{
    QMutexLocker locker(&builderMutex);
    while (builderRunning)
        builderIdle.wait(&builderMutex);
}

void store_internal::setIndexBuilderCopiedHook(std::function<void()> hook)
{
    QMutexLocker locker(&builderMutex);
    copiedHook = std::move(hook);
}
