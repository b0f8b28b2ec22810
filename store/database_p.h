#pragma once

// Internal state of the table store, shared by its source files only.

#include "database.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <map>

// The key a value index orders by, computed once per insert: QVariant has no
// ordering of its own in Qt 6. Ordering follows variantLess.
struct IndexKey
{
    qint64 number = 0;
    QByteArray bytes;
    // Not part of the order: set for integers and non-null strings, where two
    // equal keys always mean cellEquals() holds, so a lookup need not read
    // the row to confirm a match.
    bool plain = false;

    static IndexKey of(const QVariant &value);
    friend bool operator<(const IndexKey &a, const IndexKey &b);
};

// Multi-map of one column's value index: key -> row number. New entries are
// inserted at lower_bound, so among equal keys the newest comes first.
using ValueIndex = std::multimap<IndexKey, int>;

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
    QHash<int, qint64> rowIds;

    // Pending work for the next flush.
    QList<int> insertedRows;
    QHash<int, QSet<int>> dirtyCells;
    QList<int> removedRows;

    // column -> index, and column -> (row -> that row's entry in the index)
    QHash<int, ValueIndex> valueIndexes;
    QHash<int, QHash<int, ValueIndex::iterator>> indexEntries;

    // Moves the row's entry in the column's value index (if the column has
    // one) to `value`; the caller holds tableMutex.
    void indexCell(int column, int row, const QVariant &value);
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
