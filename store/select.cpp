// Finding rows: cursors, condition tests, lookups, selections and the value
// indexes that answer conditions on key columns without a scan.

#include "database_p.h"
#include "indexbuild_p.h"
#include "indexcandidates_p.h"

#include <QScopeGuard>

#include <algorithm>
#include <functional>
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
QVector<IndexCandidates> candidatesOf(const Table &t, const Conditions &conditions, bool buildComing = true)
{
    QVector<IndexCandidates> all;
    for (auto it = conditions.cbegin(); it != conditions.cend(); ++it) {
        if (isNullValue(it.value()))
            continue;
        const ValueIndex *index = t.index(it.key(), buildComing);
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
        // The rows are the same found either way: an index the store's
        // thread is building is not built here too, and the rows are scanned.
        const QVector<IndexCandidates> all = candidatesOf(t, conditions, false);
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

const ValueIndex *Table::index(int column, bool buildComing) const
{
    if (pendingIndexes.contains(column)) {
        if (!buildComing && comingIndexes.contains(column))
            return nullptr;
        // Alone: the table's other declared indexes may never be asked for.
        const_cast<Table *>(this)->buildIndexes({column});
    }
    const auto found = valueIndexes.constFind(column);
    return found == valueIndexes.cend() ? nullptr : &found.value();
}

void Table::buildIndexes(const QList<int> &columns)
{
    for (const int column : columns) {
        pendingIndexes.removeAll(column);
        comingIndexes.removeAll(column);
    }
    std::vector<int> wanted;
    for (const int column : columns) {
        if (column >= 0 && column < columnCount && !valueIndexes.contains(column)
            && std::find(wanted.cbegin(), wanted.cend(), column) == wanted.cend())
            wanted.push_back(column);
    }
    std::vector<ValueIndex> built = buildIndexesOf(rows, wanted);
    for (size_t c = 0; c < wanted.size(); ++c)
        valueIndexes.insert(wanted[c], std::move(built[c]));
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
    t.comingIndexes.removeAll(column);
}

bool Database::hasColumnIndex(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return false;
    const Table &t = tables.at(table);
    return t.valueIndexes.contains(column) || t.pendingIndexes.contains(column);
}
