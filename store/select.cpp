// Finding rows: cursors, condition tests, lookups, selections and the value
// indexes that answer conditions on key columns without a scan.

#include "database_p.h"
#include "indexcandidates_p.h"

#include <QScopeGuard>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

using namespace store_internal;

RowCursor::RowCursor(int table, const QList<int> &rows)
    : table(table), rows(rows)
{
}

bool RowCursor::next()
{
    // After the end the cursor starts over, so -1 stands for both.
    if (position < 0 || position >= rows.size())
        position = 0;
    else
        ++position;
    if (position >= rows.size()) {
        position = -1;
        row = 0;
        return false;
    }
    row = rows.at(position);
    return true;
}

namespace {

// Rows visited per hold of tableMutex during a scan: long enough to make the
// locking cheap, short enough that the flush never waits long.
constexpr int scanChunk = 1024;

bool validTable(int table)
{
    return table >= 0 && table < tables.size();
}

bool validConditions(const Table &t, const Conditions &conditions)
{
    return conditions.isEmpty()
           || (conditions.firstKey() >= 0 && conditions.lastKey() < t.columnCount);
}

// A null condition value asks for a cell that is set; any other value asks
// for a cell equal to it, the condition value on the left. A cell never set
// counts as the NULL it is in the file (and after a reopen).
bool matchesLocked(const Table &t, int row, const Conditions &conditions)
{
    if (conditions.isEmpty())
        return true;
    static const QVariant missing{QMetaType::fromType<QString>()};
    const RowCells *cells = t.rows.find(row);
    for (auto it = conditions.cbegin(); it != conditions.cend(); ++it) {
        QVariant cell = cells && it.key() >= 0 && it.key() < cells->size() ? cells->at(it.key()) : missing;
        if (!cell.isValid())
            cell = missing;
        if (isNullValue(it.value())) {
            if (isNullValue(cell))
                return false;
        } else if (!cellEquals(it.value(), cell)) {
            return false;
        }
    }
    return true;
}

// Walks the rows in ascending order, taking tableMutex per chunk. `visit`
// gets each row number and returns false to stop the walk.
template<typename Visit>
void scanRows(int table, const Conditions &conditions, Visit &&visit)
{
    int last = 0;
    for (;;) {
        QMutexLocker locker(&tableMutex);
        if (!validTable(table))
            return;
        const Table &t = tables.at(table);
        for (int n = 0; n < scanChunk; ++n) {
            last = t.rows.next(last);
            if (last == 0)
                return;
            if (matchesLocked(t, last, conditions) && !visit(last))
                return;
        }
    }
}

// The candidates of every condition that an index can narrow: an indexed
// column with a non-null value (a null asks for any set cell: a scan).
QVector<IndexCandidates> candidatesOf(const Table &t, const Conditions &conditions)
{
    QVector<IndexCandidates> all;
    for (auto it = conditions.cbegin(); it != conditions.cend(); ++it) {
        if (isNullValue(it.value()))
            continue;
        const ValueIndex *index = t.index(it.key());
        if (!index)
            continue;
        IndexCandidates candidates = IndexCandidates::of(*index, t.cellsOf(it.key()), it.value());
        if (candidates.narrows)
            all.append(std::move(candidates));
    }
    return all;
}

// How many entries the candidates hold, counting no further than `limit`.
qsizetype countUpTo(const IndexCandidates &candidates, qsizetype limit)
{
    qsizetype count = 0;
    candidates.forEach([&count, limit](const ValueIndex::Entry &, bool) { return ++count < limit; }, false);
    return count;
}

// The candidates with the fewest entries, found with a growing limit so that
// the cost follows the fewest, not the most.
const IndexCandidates &fewest(const QVector<IndexCandidates> &all)
{
    if (all.size() == 1)
        return all.first();
    for (qsizetype limit = 64;; limit *= 4) {
        qsizetype best = -1;
        qsizetype bestCount = limit;
        for (qsizetype i = 0; i < all.size(); ++i) {
            const qsizetype count = countUpTo(all.at(i), bestCount);
            if (count < bestCount) {
                best = i;
                bestCount = count;
            }
        }
        if (best >= 0)
            return all.at(best);
    }
}

// Shared by selectAtLeast and selectBetween: rows whose cell lies in
// [low, high], without an upper bound when high is nullptr. Caller holds tableMutex.
QList<int> rangeRowsLocked(const Table &t, int column, const IndexKey &low, const IndexKey *high)
{
    QList<int> result;
    const ValueIndex *index = t.index(column);
    if (index) {
        const ColumnCells cells = t.cellsOf(column);
        const auto end = high ? index->upperBound(*high, cells) : index->end();
        for (auto it = index->lowerBound(low, cells); it != end; ++it)
            result.append(it->row);
        return result;
    }
    for (int row = t.rows.next(0); row != 0; row = t.rows.next(row)) {
        const IndexKey key = IndexKey::of(t.rows.find(row)->at(column));
        if (!(key < low) && !(high && *high < key))
            result.append(row);
    }
    return result;
}

} // namespace

QVariant Database::value(const RowCursor &cursor, int column)
{
    return value(cursor.table, cursor.row, column);
}

bool Database::setValue(const RowCursor &cursor, int column, const QVariant &value)
{
    return setValue(cursor.table, cursor.row, column, value);
}

QVector<QVariant> Database::rowValues(const RowCursor &cursor)
{
    return rowValues(cursor.table, cursor.row);
}

bool Database::removeRow(const RowCursor &cursor)
{
    return removeRow(cursor.table, cursor.row);
}

bool Database::nextRow(int table, int &row)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || row < 0) {
        row = 0;
        return false;
    }
    row = tables.at(table).rows.next(row);
    return row != 0;
}

RowCursor Database::allRows(int table)
{
    QList<int> rows;
    scanRows(table, Conditions(), [&rows](int row) {
        rows.append(row);
        return true;
    });
    return RowCursor(table, rows);
}

bool Database::rowMatches(int table, int row, const Conditions &conditions)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return conditions.isEmpty();
    return matchesLocked(tables.at(table), row, conditions);
}

int store_internal::findRowLocked(const Table &t, const Conditions &conditions, bool mayScan)
{
    if (!validConditions(t, conditions))
        return 0;
    const QVector<IndexCandidates> all = candidatesOf(t, conditions);
    if (all.isEmpty()) {
        if (!mayScan)
            return -1;
        for (int row = t.rows.next(0); row != 0; row = t.rows.next(row)) {
            if (matchesLocked(t, row, conditions))
                return row;
        }
        return 0;
    }
    int found = 0;
    if (conditions.size() == 1) {
        // The row that took this very value last comes first.
        const IndexCandidates &candidates = all.first();
        candidates.forEach([&](const ValueIndex::Entry &entry, bool inOwn) {
            if (candidates.proves(entry, inOwn) || matchesLocked(t, entry.row, conditions))
                found = entry.row;
            return found == 0;
        });
        return found;
    }
    // Several conditions: the lowest matching row, as a scan would find.
    fewest(all).forEach(
        [&](const ValueIndex::Entry &entry, bool) {
            if ((found == 0 || entry.row < found) && matchesLocked(t, entry.row, conditions))
                found = entry.row;
            return true;
        },
        false);
    return found;
}

int Database::findRow(int table, const Conditions &conditions)
{
    {
        QMutexLocker locker(&tableMutex);
        if (!validTable(table))
            return 0;
        // Without an index the walk below lets go of the lock now and then.
        const int found = findRowLocked(tables.at(table), conditions, false);
        if (found >= 0)
            return found;
    }

    int found = 0;
    scanRows(table, conditions, [&found](int row) {
        found = row;
        return false;
    });
    return found;
}

int Database::findRow(int table, int column, const QVariant &value)
{
    return findRow(table, Conditions{{column, value}});
}

int Database::findRow(int table, const QVariantMap &byName)
{
    return findRow(table, columnIds(table, byName));
}

QVariant Database::valueWhere(int table, const Conditions &conditions, int column)
{
    const int row = findRow(table, conditions);
    return row < 1 ? QVariant() : value(table, row, column);
}

QVariant Database::valueWhere(int table, const QVariantMap &byName, int column)
{
    return valueWhere(table, columnIds(table, byName), column);
}

QVariant Database::lookupValue(int table, int keyColumn, const QVariant &keyValue, int resultColumn)
{
    // As a condition a null asks for any set cell: no key to look up.
    if (isNullValue(keyValue))
        return QVariant();
    return valueWhere(table, Conditions{{keyColumn, keyValue}}, resultColumn);
}

bool Database::insertUnique(int table, const QVariantMap &byName)
{
    return insertUnique(table, columnIds(table, byName));
}

RowCursor Database::select(int table, const Conditions &conditions)
{
    {
        QMutexLocker locker(&tableMutex);
        if (!validTable(table))
            return RowCursor(table, QList<int>());
        const Table &t = tables.at(table);
        if (!validConditions(t, conditions))
            return RowCursor(table, QList<int>());
        const QVector<IndexCandidates> all = candidatesOf(t, conditions);
        if (!all.isEmpty()) {
            // Start from the fewest candidates and test the rest of the
            // conditions on each: the intersection without building sets.
            const IndexCandidates &candidates = fewest(all);
            const bool single = conditions.size() == 1;
            QList<int> rows;
            candidates.forEach(
                [&](const ValueIndex::Entry &entry, bool inOwn) {
                    if ((single && candidates.proves(entry, inOwn)) || matchesLocked(t, entry.row, conditions))
                        rows.append(entry.row);
                    return true;
                },
                false);
            std::sort(rows.begin(), rows.end());
            rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
            return RowCursor(table, rows);
        }
    }

    QList<int> rows;
    scanRows(table, conditions, [&rows](int row) {
        rows.append(row);
        return true;
    });
    return RowCursor(table, rows);
}

RowCursor Database::select(int table, int column, const QVariant &value)
{
    return select(table, Conditions{{column, value}});
}

RowCursor Database::select(int table, const QVariantMap &byName)
{
    return select(table, columnIds(table, byName));
}

RowCursor Database::selectAtLeast(int table, int column, const QVariant &value)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return RowCursor(table, QList<int>());
    const Table &t = tables.at(table);
    if (column < 0 || column >= t.columnCount)
        return RowCursor(table, QList<int>());
    return RowCursor(table, rangeRowsLocked(t, column, IndexKey::of(value), nullptr));
}

RowCursor Database::selectBetween(int table, int column, const QVariant &a, const QVariant &b)
{
    const IndexKey first = IndexKey::of(a);
    const IndexKey second = IndexKey::of(b);
    const bool ascending = !(second < first);
    const IndexKey &low = ascending ? first : second;
    const IndexKey &high = ascending ? second : first;

    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return RowCursor(table, QList<int>());
    const Table &t = tables.at(table);
    if (column < 0 || column >= t.columnCount)
        return RowCursor(table, QList<int>());
    return RowCursor(table, rangeRowsLocked(t, column, low, &high));
}

namespace {

// Tables with fewer rows build their indexes on the calling thread alone.
constexpr qsizetype parallelRows = 20000;

// A hint to fetch the memory at `address` into the cache; it changes nothing.
inline void prefetch(const void *address)
{
    __builtin_prefetch(address);
}

// Runs task(0) to task(count - 1), each once, on this thread and up to
// `threads` - 1 helper threads. Without helpers (none wanted, or none to be
// had) this thread runs them all.
void runTasks(size_t count, size_t threads, const std::function<void(size_t)> &task)
{
    std::atomic<size_t> next{0};
    const auto work = [&next, count, &task] {
        for (size_t i = next++; i < count; i = next++)
            task(i);
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < std::min(threads, count); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error &) {
            break;
        }
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
}

// One entry of a value index in the making: the parts of its key that
// decide most comparisons. Where they tie, the keys are compared through the
// cells, which stay in place while the index is built.
struct IndexEntry
{
    qint64 number;
    quint64 head;
    int row;
    // The key's bytes are the decimal text of its number: two such entries
    // with equal numbers are index-equal.
    bool decimal;
    // The key's bytes are the cell's own text.
    bool text;
    bool plain;
};

// By the parts of the keys that the entries hold, and the higher row number
// first where those are equal: the order of the finished index as far as
// they decide it.
bool partsBefore(const IndexEntry &a, const IndexEntry &b)
{
    if (a.number != b.number)
        return a.number < b.number;
    if (a.head != b.head)
        return a.head < b.head;
    return a.row > b.row;
}

bool samePart(const IndexEntry &a, const IndexEntry &b)
{
    return a.number == b.number && a.head == b.head;
}

// Entries of equal parts, ordered by their whole keys read from the cells:
// ascending, the higher row first among index-equal keys (as they come).
// Each key is made once; a run of one value (nulls, a type name) is only
// compared, not sorted.
void orderRun(std::vector<IndexEntry>::iterator first, std::vector<IndexEntry>::iterator last,
              const ColumnCells &cells)
{
    std::vector<IndexKey> keys;
    keys.reserve(size_t(last - first));
    bool allEqual = true;
    for (auto it = first; it != last; ++it) {
        keys.push_back(IndexKey::of(cells.at(it->row)));
        allEqual = allEqual && IndexKey::compare(keys.front(), keys.back()) == 0;
    }
    if (allEqual)
        return;
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&keys](size_t a, size_t b) { return IndexKey::compare(keys[a], keys[b]) < 0; });
    std::vector<IndexEntry> run(first, last);
    for (size_t i = 0; i < order.size(); ++i)
        first[qsizetype(i)] = run[order[i]];
}

// Ascending keys, and among index-equal keys the higher row number first, as
// if the rows had been entered in ascending order, each before its equals;
// `order` comes in row order. Sorted by the entries' own parts first, which
// decide nearly every pair: only runs of equal parts that are not all
// integers read their cells.
void sortEntries(std::vector<IndexEntry> &order, const ColumnCells &cells)
{
    if (!std::is_sorted(order.cbegin(), order.cend(), partsBefore)) {
        // Keys that never rise from row to row (ids made here count down)
        // need only turning round: the entries come in row order, so equal
        // parts then come the higher row first.
        const auto rises = [](const IndexEntry &a, const IndexEntry &b) {
            return !samePart(a, b) && partsBefore(a, b);
        };
        if (std::adjacent_find(order.cbegin(), order.cend(), rises) == order.cend())
            std::reverse(order.begin(), order.end());
        else
            std::sort(order.begin(), order.end(), partsBefore);
    }
    for (auto from = order.begin(); from != order.end();) {
        auto to = from + 1;
        bool integers = from->decimal;
        for (; to != order.end() && samePart(*from, *to); ++to)
            integers = integers && to->decimal;
        // Integers with equal numbers have equal keys.
        if (to - from > 1 && !integers)
            orderRun(from, to, cells);
        from = to;
    }
}

} // namespace

const ValueIndex *Table::index(int column) const
{
    // Alone: the table's other declared indexes may never be asked for.
    if (pendingIndexes.contains(column))
        const_cast<Table *>(this)->buildIndexes({column});
    const auto found = valueIndexes.constFind(column);
    return found == valueIndexes.cend() ? nullptr : &found.value();
}

void Table::buildIndexes(const QList<int> &columns)
{
    for (const int column : columns)
        pendingIndexes.removeAll(column);
    std::vector<int> wanted;
    for (const int column : columns) {
        if (column >= 0 && column < columnCount && !valueIndexes.contains(column)
            && std::find(wanted.cbegin(), wanted.cend(), column) == wanted.cend())
            wanted.push_back(column);
    }
    if (wanted.empty())
        return;
    std::vector<ValueIndex *> indexes;
    for (const int column : wanted)
        indexes.push_back(&valueIndexes[column]);
    if (rows.isEmpty())
        return;

    // First the keys, for every column in one walk over the rows: the walk
    // costs more than the sorting, since each row's cells and texts lie apart
    // in memory, so it reads some rows ahead of itself. A large table is
    // walked in ranges of row numbers side by side. The helpers only read the
    // rows (the caller holds tableMutex) and write their own range's keys.
    //
    // Every buffer is made here, before the helpers start: what a helper
    // thread allocates stays in its own heap, which gives little back to the
    // system once freed, where this thread's heap gives it all back.
    const TableRows &table = rows;
    const size_t threads = rows.size() < parallelRows ? 1 : size_t(std::max(1, QThread::idealThreadCount()));
    const int firstRow = rows.next(0);
    const qint64 span = qint64(rows.last()) - firstRow + 1;
    std::vector<int> rangeStarts;
    for (size_t range = 0; range <= threads; ++range)
        rangeStarts.push_back(int(firstRow + span * qint64(range) / qint64(threads)));
    // ranges[range][column]
    std::vector<std::vector<std::vector<IndexEntry>>> ranges(threads,
                                                             std::vector<std::vector<IndexEntry>>(wanted.size()));
    for (size_t range = 0; range < threads; ++range) {
        for (std::vector<IndexEntry> &entries : ranges[range])
            entries.reserve(size_t(rangeStarts[range + 1] - rangeStarts[range]));
    }
    std::vector<std::vector<size_t>> unusual(threads, std::vector<size_t>(wanted.size(), 0));
    runTasks(threads, threads, [&](size_t range) {
        std::vector<std::vector<IndexEntry>> &out = ranges[range];
        constexpr int ahead = 16;
        const int end = rangeStarts[range + 1];
        for (int row = rangeStarts[range]; row < end; ++row) {
            // Cells some rows ahead, and the texts of cells half as far ahead.
            if (const RowCells *later = row + ahead < end ? table.find(row + ahead) : nullptr) {
                for (const int column : wanted)
                    prefetch(later->constData() + column);
            }
            if (const RowCells *later = row + ahead / 2 < end ? table.find(row + ahead / 2) : nullptr) {
                for (const int column : wanted) {
                    if (const void *text = later->constData()[column].textData())
                        prefetch(text);
                }
            }
            const RowCells *cells = table.find(row);
            if (!cells)
                continue;
            for (size_t c = 0; c < wanted.size(); ++c) {
                const QVariant &cell = cells->at(wanted[c]);
                if (ValueIndex::isUnusual(cell))
                    ++unusual[range][c];
                const IndexKey key = IndexKey::of(cell);
                out[c].push_back(IndexEntry{key.number, key.head, row, std::holds_alternative<std::monostate>(key.bytes),
                                            std::holds_alternative<QString>(key.bytes), key.plain});
            }
        }
    });

    // Then the columns side by side, each helper with its own.
    std::vector<std::vector<IndexEntry>> orders(wanted.size());
    std::vector<std::vector<ValueIndex::Entry>> sorted(wanted.size());
    for (size_t c = 0; c < wanted.size(); ++c) {
        orders[c].reserve(size_t(rows.size()));
        sorted[c].reserve(size_t(rows.size()));
    }
    runTasks(wanted.size(), threads, [&](size_t c) {
        std::vector<IndexEntry> &order = orders[c];
        for (std::vector<std::vector<IndexEntry>> &range : ranges) {
            order.insert(order.end(), range[c].cbegin(), range[c].cend());
            range[c] = std::vector<IndexEntry>();
        }
        sortEntries(order, cellsOf(wanted[c]));
        for (const IndexEntry &entry : order) {
            sorted[c].push_back(
                ValueIndex::entryOf(entry.number, entry.head, entry.decimal, entry.text, entry.plain, entry.row));
        }
        order = std::vector<IndexEntry>();
    });
    // The indexes that stay are made last, so that they take the room the
    // scratch buffers left at the top of the heap rather than keep the
    // freed buffers above them from going back to the system.
    for (size_t c = 0; c < wanted.size(); ++c) {
        size_t unusualCells = 0;
        for (const std::vector<size_t> &counts : unusual)
            unusualCells += counts[c];
        indexes[c]->assign(std::move(sorted[c]), unusualCells);
    }
}

namespace {

// Set while buildIndexesTogether collects the columns to index.
thread_local QList<std::pair<int, int>> *indexRequests = nullptr;

} // namespace

void store_internal::buildIndexesTogether(const std::function<void()> &declare)
{
    QList<std::pair<int, int>> requests;
    {
        indexRequests = &requests;
        const auto stopRecording = qScopeGuard([] { indexRequests = nullptr; });
        declare();
    }

    QMap<int, QList<int>> columnsByTable;
    for (const auto &[table, column] : std::as_const(requests))
        columnsByTable[table].append(column);
    // Built on first use: an index nobody asks for during start-up (those
    // of the change lists, say) costs neither time nor memory there.
    QMutexLocker locker(&tableMutex);
    for (auto it = columnsByTable.cbegin(); it != columnsByTable.cend(); ++it) {
        if (!validTable(it.key()))
            continue;
        Table &t = tables[it.key()];
        for (const int column : it.value()) {
            if (column >= 0 && column < t.columnCount && !t.valueIndexes.contains(column)
                && !t.pendingIndexes.contains(column))
                t.pendingIndexes.append(column);
        }
    }
}

void Database::buildColumnIndex(int table, int column)
{
    if (indexRequests) {
        indexRequests->append({table, column});
        return;
    }
    QMutexLocker locker(&tableMutex);
    if (validTable(table))
        tables[table].buildIndexes({column});
}

void Database::dropColumnIndex(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || column < 0)
        return;
    Table &t = tables[table];
    t.valueIndexes.remove(column);
    t.pendingIndexes.removeAll(column);
}

namespace {

// The thread of buildDeclaredIndexesSoon and what it has yet to build; the
// mutex is taken alone.
QMutex builderMutex;
QWaitCondition builderIdle;
QThread *builder = nullptr;
bool builderRunning = false;
bool builderStopping = false;
QList<std::pair<int, int>> toBuild;

void buildQueuedIndexes()
{
    QMutexLocker queue(&builderMutex);
    while (!builderStopping && !toBuild.isEmpty()) {
        const auto [table, column] = toBuild.takeFirst();
        queue.unlock();
        {
            QMutexLocker locker(&tableMutex);
            if (validTable(table))
                tables.at(table).index(column);
        }
        queue.relock();
    }
    builderRunning = false;
    builderIdle.wakeAll();
}

} // namespace

void Database::buildDeclaredIndexesSoon(const QList<QPair<int, int>> &columns)
{
    QMutexLocker locker(&builderMutex);
    for (const auto &[table, column] : columns)
        toBuild.append({table, column});
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
    QMutexLocker locker(&builderMutex);
    builderStopping = true;
    toBuild.clear();
    while (builderRunning)
        builderIdle.wait(&builderMutex);
    if (builder)
        builder->wait();
    delete std::exchange(builder, nullptr);
}

void store_internal::waitForIndexBuilder()
{
    QMutexLocker locker(&builderMutex);
    while (builderRunning)
        builderIdle.wait(&builderMutex);
}

bool Database::hasColumnIndex(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return false;
    const Table &t = tables.at(table);
    return t.valueIndexes.contains(column) || t.pendingIndexes.contains(column);
}
