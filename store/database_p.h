#pragma once

// Internal state of the table store, shared by its source files only.

#include "database.h"
#include "nodepool_p.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

// The key a value index orders by, computed once per insert: QVariant has no
// ordering of its own in Qt 6. Ordering follows variantLess: by `number`, then
// by the unsigned bytes of the value's toByteArray(). Those bytes are held in
// the cheapest form that orders the same, so that keys of integers and texts
// cost no allocation of their own.
struct IndexKey
{
    // The bytes compared after the number, as one of:
    // - std::monostate: the decimal text of `number` (integers), made only
    //   when a comparison with another form needs it;
    // - QString: well-formed UTF-16 text (shared with the cell, not copied),
    //   whose UTF-8 bytes order as its code points;
    // - QByteArray: the bytes themselves (every other type, nulls as empty).
    using Bytes = std::variant<std::monostate, QString, QByteArray>;

    qint64 number = 0;
    // The first eight bytes, big-endian and zero-padded, so that most
    // comparisons end without looking at `bytes`.
    quint64 head = 0;
    Bytes bytes = QByteArray();
    // Not part of the order: set for integers and non-null strings, where two
    // equal keys always mean cellEquals() holds, so a lookup need not read
    // the row to confirm a match.
    bool plain = false;

    static IndexKey of(const QVariant &value);
    // Negative, zero or positive as a orders before, index-equal to or after b.
    static int compare(const IndexKey &a, const IndexKey &b);
    // The bytes as toByteArray() gives them.
    QByteArray byteArray() const;
    friend bool operator<(const IndexKey &a, const IndexKey &b) { return compare(a, b) < 0; }
};

// Multi-map of one column's value index: key -> row number. New entries are
// inserted at lower_bound, so among equal keys the newest comes first.
using ValueIndex = std::multimap<IndexKey, int, std::less<IndexKey>, PoolAllocator<std::pair<const IndexKey, int>>>;

// Row number -> that row's entry in one column's value index. Row numbers
// are dense from 1, so a vector indexed by them serves instead of a hash.
class IndexPositions
{
public:
    void reserve(int rowCount)
    {
        positions.reserve(size_t(rowCount) + 1);
        present.reserve(size_t(rowCount) + 1);
    }
    void set(int row, ValueIndex::iterator entry)
    {
        if (size_t(row) >= positions.size()) {
            positions.resize(size_t(row) + 1);
            present.resize(size_t(row) + 1);
        }
        positions[size_t(row)] = entry;
        present[size_t(row)] = true;
    }
    // The row's entry, forgotten here; none when the row has no entry.
    std::optional<ValueIndex::iterator> take(int row)
    {
        if (row < 0 || size_t(row) >= positions.size() || !present[size_t(row)])
            return std::nullopt;
        present[size_t(row)] = false;
        return positions[size_t(row)];
    }

private:
    // Side by side rather than as optionals, which would double the size.
    std::vector<ValueIndex::iterator> positions;
    std::vector<bool> present;
};

// Row number -> the SQLite rowid of the row in "database.db"; -1 where none
// is known. Row numbers are dense from 1, so a vector indexed by them serves
// instead of a hash (a fraction of its memory).
class RowIds
{
public:
    RowIds() = default;
    explicit RowIds(std::vector<qint64> &&byRow)
        : ids(std::move(byRow))
    {
    }
    qint64 value(int row) const { return row > 0 && size_t(row) < ids.size() ? ids[size_t(row)] : -1; }
    void insert(int row, qint64 rowid)
    {
        if (row < 1)
            return;
        if (size_t(row) >= ids.size())
            ids.resize(size_t(row) + 1, -1);
        ids[size_t(row)] = rowid;
    }
    void remove(int row)
    {
        if (row > 0 && size_t(row) < ids.size())
            ids[size_t(row)] = -1;
    }

private:
    std::vector<qint64> ids;
};

struct Table
{
    Table() = default;
    // indexEntries holds iterators into valueIndexes, so a copy rebuilds them
    // against its own indexes instead of pointing into the original's.
    Table(const Table &other);
    Table &operator=(const Table &other);
    Table(Table &&) = default;
    Table &operator=(Table &&) = default;
    ~Table() = default;

    QString name;
    int columnCount = 0;
    int nextRowNumber = 1;
    QHash<QString, int> columnIds;
    QVector<QString> columnNames;
    QMap<int, QVector<QVariant>> rows;
    RowIds rowIds;

    // Pending work for the next flush.
    QList<int> insertedRows;
    QHash<int, QSet<int>> dirtyCells;
    QList<int> removedRows;

    // column -> index, and column -> (row -> that row's entry in the index)
    QHash<int, ValueIndex> valueIndexes;
    QHash<int, IndexPositions> indexEntries;

    // Moves the row's entry in the column's value index (if the column has
    // one) to `value`; the caller holds tableMutex.
    void indexCell(int column, int row, const QVariant &value);
    // Creates the value index of each column from the current rows, except
    // for columns out of range or already indexed; the caller holds tableMutex.
    void buildIndexes(const QList<int> &columns);
};

namespace store_internal {

// Lock order: flushMutex, then fileMutex, then tableMutex. Never hold
// tableMutex while waiting for another lock.
extern QVector<Table> tables;
extern QHash<QString, int> tableIds;
extern QMutex tableMutex;
extern QMutex flushMutex;
extern QMutex fileMutex;

extern QDir filesDir;        // guarded by fileMutex
extern QString dataDirPath;  // "" until a folder was opened
extern QString databasePath;
extern QMap<QString, FileEntry> fileCache;  // guarded by fileMutex
extern QSet<QString> reservedNames;         // guarded by fileMutex

// Runs `declare`, which asks for value indexes with Database::buildColumnIndex,
// and then builds all of them under one hold of tableMutex, with one walk
// over the rows of each table instead of one per column.
void buildIndexesTogether(const std::function<void()> &declare);

// The (table, column) pairs of every file column (Database::isFileColumn),
// and whether a cell of one of them holds `name`; the caller holds tableMutex.
using FileColumns = QList<QPair<int, int>>;
FileColumns fileColumnsLocked();
bool fileNamedLocked(const FileColumns &columns, const QString &name);

// Quotes an SQL identifier, doubling any backtick inside it.
QString quoteIdentifier(const QString &name);

// Hooks for tests and benchmarks.
// Runs one statement on the writer thread's connection (for example a PRAGMA
// that only lasts as long as that connection); false when it failed or no
// store is open. `firstValue` receives the first column of the first row.
bool runOnWriter(const QString &sql, QVariant *firstValue = nullptr);
// While paused, the writer flushes only on request, not every 300 ms.
void pausePeriodicFlush(bool paused);
// Timing of the last flush that had table work: its whole time and the
// longest single hold of tableMutex inside it.
struct FlushTiming
{
    qint64 flushNs = 0;
    qint64 longestTableHoldNs = 0;
};
FlushTiming lastFlushTiming();

} // namespace store_internal
