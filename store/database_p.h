#pragma once

// Internal state of the table store, shared by its source files only.

#include "database.h"
#include "indexkey_p.h"
#include "storedform_p.h"
#include "tablerows_p.h"
#include "valueindex_p.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <functional>
#include <utility>
#include <vector>

class QSqlError;

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
    QString name;
    int columnCount = 0;
    int nextRowNumber = 1;
    QHash<QString, int> columnIds;
    QVector<QString> columnNames;
    // As the file declares the columns; empty for a table in memory only.
    QVector<ColumnKind> columnKinds;
    TableRows rows;
    RowIds rowIds;

    // Pending work for the next flush.
    QList<int> insertedRows;
    QHash<int, QSet<int>> dirtyCells;
    QList<int> removedRows;
    // Tables (this one among them) that received rows together with this one
    // by Database::insertRows since the last flush: written all or none.
    QSet<int> insertedWith;

    // column -> value index; every row of the table has an entry in each.
    // A map: every row added walks all of a table's few indexes, and a hash
    // walk visits each of its (at least 128) buckets.
    QMap<int, ValueIndex> valueIndexes;
    // Columns whose index was declared at open and is built on first use;
    // index() is called with tableMutex held and may build it.
    mutable QList<int> pendingIndexes;
    // Those of them that Database::buildDeclaredIndexesSoon's thread is to
    // build: a lookup that a scan answers alike need not build them itself
    // (`buildComing` false), and gets no index then.
    QList<int> comingIndexes;
    const ValueIndex *index(int column, bool buildComing = true) const;

    ColumnCells cellsOf(int column) const { return ColumnCells{rows, column}; }
    ColumnKind kindOf(int column) const { return columnKinds.value(column, ColumnKind::Unbound); }
    // The cells of a new row: no value, or NULL in a table of the file.
    RowCells newCells() const;
    // Whether writing `value` over `cell` of the column changes what it
    // holds; `stored` receives what the cell is to hold: the value as the
    // file will give it back.
    bool changes(int column, const QVariant &cell, const QVariant &value, QVariant *stored) const;
    // Adds a row with its cells and enters it in every value index; the
    // caller holds tableMutex.
    void addRow(int row, RowCells &&cells);
    // Sets the cell of an existing row and moves the row's entry in the
    // column's value index (if it has one); the caller holds tableMutex.
    void setCell(int row, int column, const QVariant &value);
    // Removes an existing row and its index entries; the caller holds tableMutex.
    void removeRow(int row);
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

// The row Database::findRow gives. When no value index narrows the
// conditions it walks the rows if `mayScan`, else gives -1. The caller holds
// tableMutex.
int findRowLocked(const Table &t, const Conditions &conditions, bool mayScan);

// Stops Database::buildDeclaredIndexesSoon's thread, dropping the index in
// the making and the rest of its list.
void stopIndexBuilder();
// Waits until that thread has nothing more to build.
void waitForIndexBuilder();
// For tests: called on that thread once it holds its copy of a table's
// rows, with no lock held; set while no index is being built.
void setIndexBuilderCopiedHook(std::function<void()> hook);

// Runs `declare`, which asks for value indexes with Database::buildColumnIndex,
// and records them as declared: each is built when it is first used
// (Table::index).
void buildIndexesTogether(const std::function<void()> &declare);

// The (table, column) names of the key columns the schema declares, which
// get value indexes.
QList<QPair<QString, QString>> declaredKeyColumns();

// The (table, column) pairs of every file column (Database::isFileColumn),
// and whether a cell of one of them holds `name`; the caller holds tableMutex.
using FileColumns = QList<QPair<int, int>>;
FileColumns fileColumnsLocked();
bool fileNamedLocked(const FileColumns &columns, const QString &name);

// Whether values of the type are whole numbers (flags and characters too).
bool isWholeNumberType(int typeId);

// Quotes an SQL identifier, doubling any backtick inside it.
QString quoteIdentifier(const QString &name);
// Why a statement failed: SQLite's own words ("database or disk is full")
// where it gave some, else the driver's ("Unable to fetch row").
QString sqlReason(const QSqlError &error);

// Hooks for tests and benchmarks.
// Runs one statement on the writer thread's connection (for example a PRAGMA
// that only lasts as long as that connection); false when it failed or no
// store is open. `firstValue` receives the first column of the first row.
bool runOnWriter(const QString &sql, QVariant *firstValue = nullptr);
// Waits until the sweep of orphaned files, if one was started, has ended.
void waitForOrphanSweep();
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
