// Finding rows: cursors, condition tests, lookups, selections and the value
// indexes that answer conditions on key columns without a scan.

#include "database_p.h"

#include <algorithm>
#include <utility>

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
// for a cell equal to it, the condition value on the left.
bool matchesLocked(const Table &t, int row, const Conditions &conditions)
{
    if (conditions.isEmpty())
        return true;
    static const QVariant missing;
    const auto cells = t.rows.constFind(row);
    for (auto it = conditions.cbegin(); it != conditions.cend(); ++it) {
        const QVariant &cell = cells != t.rows.cend() && it.key() >= 0 && it.key() < cells->size()
                                   ? cells->at(it.key())
                                   : missing;
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
        auto it = last == 0 ? t.rows.cbegin() : t.rows.upperBound(last);
        for (int n = 0; n < scanChunk; ++n, ++it) {
            if (it == t.rows.cend())
                return;
            last = it.key();
            if (matchesLocked(t, last, conditions) && !visit(last))
                return;
        }
    }
}

using IndexRange = std::pair<ValueIndex::const_iterator, ValueIndex::const_iterator>;

// True when the index entry alone proves that the row meets the only
// condition, whose value is `wanted`: reading the row (a cache miss per row
// on a large table) is then needless.
bool entryProvesMatch(const IndexKey &wanted, const ValueIndex::const_iterator &entry)
{
    return wanted.plain && entry->first.plain;
}

// The index ranges of the conditions that an index can answer: an indexed
// column with a non-null value. Null values need a scan (any set cell).
QVector<IndexRange> indexRanges(const Table &t, const Conditions &conditions)
{
    QVector<IndexRange> ranges;
    for (auto it = conditions.cbegin(); it != conditions.cend(); ++it) {
        if (isNullValue(it.value()))
            continue;
        const auto index = t.valueIndexes.constFind(it.key());
        if (index == t.valueIndexes.cend())
            continue;
        ranges.append(index->equal_range(IndexKey::of(it.value())));
    }
    return ranges;
}

// The shortest of the ranges, found by stepping through all of them in turn
// so that the cost is bounded by the shortest one, not by the longest.
const IndexRange &shortestRange(const QVector<IndexRange> &ranges)
{
    QVector<ValueIndex::const_iterator> positions;
    positions.reserve(ranges.size());
    for (const IndexRange &range : ranges)
        positions.append(range.first);
    for (;;) {
        for (qsizetype i = 0; i < ranges.size(); ++i) {
            if (positions[i] == ranges.at(i).second)
                return ranges.at(i);
            ++positions[i];
        }
    }
}

// Shared by selectAtLeast and selectBetween: rows whose cell lies in
// [low, high], without an upper bound when high is nullptr. Caller holds tableMutex.
QList<int> rangeRowsLocked(const Table &t, int column, const IndexKey &low, const IndexKey *high)
{
    QList<int> result;
    const auto index = t.valueIndexes.constFind(column);
    if (index != t.valueIndexes.cend()) {
        const auto end = high ? index->upper_bound(*high) : index->cend();
        for (auto it = index->lower_bound(low); it != end; ++it)
            result.append(it->second);
        return result;
    }
    for (auto it = t.rows.cbegin(); it != t.rows.cend(); ++it) {
        const IndexKey key = IndexKey::of(it->at(column));
        if (!(key < low) && !(high && *high < key))
            result.append(it.key());
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
    const Table &t = tables.at(table);
    const auto it = row == 0 ? t.rows.cbegin() : t.rows.upperBound(row);
    if (it == t.rows.cend()) {
        row = 0;
        return false;
    }
    row = it.key();
    return true;
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

int Database::findRow(int table, const Conditions &conditions)
{
    {
        QMutexLocker locker(&tableMutex);
        if (!validTable(table))
            return 0;
        const Table &t = tables.at(table);
        if (!validConditions(t, conditions))
            return 0;
        const QVector<IndexRange> ranges = indexRanges(t, conditions);
        if (!ranges.isEmpty()) {
            const IndexRange &range = shortestRange(ranges);
            if (conditions.size() == 1) {
                // The row that took this value last comes first in the index.
                const IndexKey wanted = IndexKey::of(conditions.first());
                for (auto it = range.first; it != range.second; ++it) {
                    if (entryProvesMatch(wanted, it) || matchesLocked(t, it->second, conditions))
                        return it->second;
                }
                return 0;
            }
            // Several conditions: the lowest matching row, as a scan would find.
            int found = 0;
            for (auto it = range.first; it != range.second; ++it) {
                if ((found == 0 || it->second < found) && matchesLocked(t, it->second, conditions))
                    found = it->second;
            }
            return found;
        }
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
    return valueWhere(table, Conditions{{keyColumn, keyValue}}, resultColumn);
}

bool Database::insertUnique(int table, const Conditions &values)
{
    if (findRow(table, values) > 0)
        return false;
    const int row = newRow(table);
    if (row < 1)
        return false;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        setValue(table, row, it.key(), it.value());
    return true;
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
        const QVector<IndexRange> ranges = indexRanges(t, conditions);
        if (!ranges.isEmpty()) {
            // Start from the fewest candidates and test the rest of the
            // conditions on each: the intersection without building sets.
            const IndexRange &range = shortestRange(ranges);
            const bool single = conditions.size() == 1;
            const IndexKey wanted = IndexKey::of(conditions.first());
            QList<int> rows;
            for (auto it = range.first; it != range.second; ++it) {
                if ((single && entryProvesMatch(wanted, it)) || matchesLocked(t, it->second, conditions))
                    rows.append(it->second);
            }
            std::sort(rows.begin(), rows.end());
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
    IndexKey low = IndexKey::of(a);
    IndexKey high = IndexKey::of(b);
    if (high < low)
        std::swap(low, high);

    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return RowCursor(table, QList<int>());
    const Table &t = tables.at(table);
    if (column < 0 || column >= t.columnCount)
        return RowCursor(table, QList<int>());
    return RowCursor(table, rangeRowsLocked(t, column, low, &high));
}

void Database::buildColumnIndex(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return;
    Table &t = tables[table];
    if (column < 0 || column >= t.columnCount || t.valueIndexes.contains(column))
        return;
    ValueIndex &index = t.valueIndexes[column];
    QHash<int, ValueIndex::iterator> &entries = t.indexEntries[column];
    entries.reserve(t.rows.size());
    // Ascending rows inserted newest-first: among equal values the higher row
    // number comes first.
    for (auto it = t.rows.cbegin(); it != t.rows.cend(); ++it) {
        IndexKey key = IndexKey::of(it->at(column));
        const auto hint = index.lower_bound(key);
        entries.insert(it.key(), index.emplace_hint(hint, std::move(key), it.key()));
    }
}

void Database::dropColumnIndex(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || column < 0)
        return;
    Table &t = tables[table];
    t.indexEntries.remove(column);
    t.valueIndexes.remove(column);
}

bool Database::hasColumnIndex(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    return validTable(table) && tables.at(table).valueIndexes.contains(column);
}
