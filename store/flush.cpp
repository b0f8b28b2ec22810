// The body of a flush: the pending work of every table taken in one cut,
// turned into statements and written in one transaction on the writer
// thread's connection, files first.

#include "flushwriter_p.h"

#include "fileledger_p.h"
#include "storelog.h"
#include "writer_p.h"

#include <QAtomicInteger>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <utility>

using namespace store_internal;

namespace {

QAtomicInteger<qint64> lastFlushNs;
QAtomicInteger<qint64> lastLongestHoldNs;

// Rows whose rowids are recorded per hold of tableMutex, so that callers never wait
// long for a big flush.
constexpr int rowsPerHold = 256;

// tableMutex held for one short step, timed for the lock-hold figure.
class TableHold
{
public:
    explicit TableHold(qint64 &longest)
        : longest(longest)
    {
        tableMutex.lock();
        timer.start();
    }
    ~TableHold()
    {
        const qint64 held = timer.nsecsElapsed();
        tableMutex.unlock();
        longest = std::max(longest, held);
    }
    TableHold(const TableHold &) = delete;
    TableHold &operator=(const TableHold &) = delete;

private:
    qint64 &longest;
    QElapsedTimer timer;
};

struct InsertItem
{
    int row = 0;
    RowCells values;
    qint64 rowid = -1;
};

struct UpdateItem
{
    int row = 0;
    qint64 rowid = -1;
    RowCells values; // the whole row; only the group's columns are written
};

struct UpdateGroup
{
    QList<int> columns;
    QVector<UpdateItem> items;
};

struct DeleteItem
{
    int row = 0;
    qint64 rowid = -1;
};

// One table's share of a flush: the pending lists as taken (to put back on
// failure) and the statements they turn into.
struct TableWork
{
    int table = -1;
    QString name;
    int columnCount = 0;
    QVector<QString> columnNames;

    QList<int> inserted;
    QHash<int, QSet<int>> dirty;
    QList<int> removed;
    QSet<int> insertedWith;

    QVector<InsertItem> inserts;
    QVector<UpdateItem> changed;
    QVector<UpdateGroup> updates;
    QVector<DeleteItem> deletes;

    // Set when this table's statements failed: its work waits for the next
    // flush while the other tables' work is committed.
    bool failed = false;
};

// Sorts changed rows into groups that share one UPDATE statement: the same
// set of columns. Sets are told apart by a bit mask where the table is
// narrow enough, else by their sorted column list.
class UpdateGroups
{
public:
    explicit UpdateGroups(TableWork &work)
        : work(work)
    {
    }

    // The group's index in work.updates; -1 when no column is in range.
    int groupOf(const QSet<int> &dirty)
    {
        if (work.columnCount <= 64) {
            quint64 mask = 0;
            if (dirty.size() == 1) {
                const int column = *dirty.cbegin();
                if (column >= 0 && column < work.columnCount)
                    mask = quint64(1) << column;
            } else {
                for (int column : dirty) {
                    if (column >= 0 && column < work.columnCount)
                        mask |= quint64(1) << column;
                }
            }
            if (mask == 0)
                return -1;
            const auto it = byMask.constFind(mask);
            if (it != byMask.cend())
                return *it;
            QList<int> columns;
            for (int column = 0; column < work.columnCount; ++column) {
                if (mask >> column & 1)
                    columns.append(column);
            }
            return *byMask.insert(mask, add(columns));
        }
        QList<int> columns;
        for (int column : dirty) {
            if (column >= 0 && column < work.columnCount)
                columns.append(column);
        }
        if (columns.isEmpty())
            return -1;
        std::sort(columns.begin(), columns.end());
        const auto it = byList.constFind(columns);
        if (it != byList.cend())
            return *it;
        return *byList.insert(columns, add(columns));
    }

private:
    int add(const QList<int> &columns)
    {
        work.updates.append(UpdateGroup{columns, {}});
        return int(work.updates.size() - 1);
    }

    TableWork &work;
    QHash<quint64, int> byMask;
    QHash<QList<int>, int> byList;
};

// Whether a row to be inserted or updated names one of `files` in a file
// column.
bool namesAnyOf(const QVector<TableWork> &work, const QSet<QString> &files)
{
    if (files.isEmpty())
        return false;
    for (const TableWork &one : work) {
        QList<int> columns;
        for (int column = 0; column < one.columnNames.size(); ++column) {
            if (Database::isFileColumn(one.columnNames.at(column)))
                columns.append(column);
        }
        const auto names = [&](const auto &values) {
            for (int column : std::as_const(columns)) {
                if (column < values.size() && files.contains(values.at(column).toString()))
                    return true;
            }
            return false;
        };
        for (const InsertItem &item : one.inserts) {
            if (names(item.values))
                return true;
        }
        for (const UpdateGroup &group : one.updates) {
            for (const UpdateItem &item : group.items) {
                if (names(item.values))
                    return true;
            }
        }
    }
    return false;
}

class Writer
{
public:
    explicit Writer(const QString &connectionName)
        : connectionName(connectionName)
        , ledger(connectionName)
    {
    }

    FlushOutcome flushLocked(FlushKind kind);
    bool anythingToWrite() const;
    void releaseWork() { spent.clear(); }
    bool runStatement(const QString &sql, QVariant *firstValue);
    void dropStatements()
    {
        insertQueries.clear();
        deleteQueries.clear();
        updateQueries.clear();
    }

private:
    QSqlDatabase db() const { return QSqlDatabase::database(connectionName, false); }
    void snapshotTables(QVector<TableWork> &work);
    // Takes one table's pending work; the caller holds tableMutex.
    static bool snapshotTableLocked(int table, TableWork &work);
    static void planStatements(TableWork &work);
    bool inFile(const QString &name);
    bool writeTables(QVector<TableWork> &work, QString *error);
    bool writeTable(TableWork &work, QString *error);
    bool insertRow(const TableWork &work, InsertItem &item, QString *error);
    void applyCommitted(const QVector<TableWork> &work);
    void putBack(const QVector<TableWork> &work);
    void rollback();
    bool prepare(QSqlQuery &query, const QString &sql, QString *error);
    QSqlQuery *insertQuery(const TableWork &work, QString *error);
    QSqlQuery *deleteQuery(const TableWork &work, QString *error);
    QSqlQuery *updateQuery(const TableWork &work, const QList<int> &columns, QString *error);

    QString connectionName;
    FileLedger ledger;
    qint64 longestHold = 0;
    bool failing = false;
    QSet<QString> fileTables;
    bool fileTablesRead = false;
    QSet<QString> memoryOnly;
    // Prepared statements, reused across flushes: the tables' layout does not
    // change while the writer runs.
    QHash<int, QSqlQuery> insertQueries;
    QHash<int, QSqlQuery> deleteQueries;
    QHash<int, QHash<QList<int>, QSqlQuery>> updateQueries;
    // The last flush's work, freed once its callers were answered.
    QVector<TableWork> spent;
};

QString statementError(const QSqlQuery &query, const QString &what)
{
    return QStringLiteral("%1 failed: %2").arg(what, sqlReason(query.lastError()));
}

bool Writer::snapshotTableLocked(int table, TableWork &work)
{
    Table &t = tables[table];
    if (t.insertedRows.isEmpty() && t.dirtyCells.isEmpty() && t.removedRows.isEmpty())
        return false;
    work.table = table;
    work.name = t.name;
    work.columnCount = t.columnCount;
    work.columnNames = t.columnNames;
    // What arrives from now on is pending for the next flush.
    work.inserted = std::exchange(t.insertedRows, {});
    work.dirty = std::exchange(t.dirtyCells, {});
    work.removed = std::exchange(t.removedRows, {});
    work.insertedWith = std::exchange(t.insertedWith, {});

    // Rows are implicitly shared: taking them costs a reference
    // count, not a copy of the cells. A row that is gone was removed, and its
    // removal is in this flush's list.
    QSet<int> insertedHere;
    insertedHere.reserve(work.inserted.size());
    for (int row : std::as_const(work.inserted)) {
        if (const RowCells *cells = t.rows.find(row)) {
            work.inserts.append(InsertItem{row, *cells, -1});
            insertedHere.insert(row);
        }
    }

    // A row inserted by this flush goes in whole with its insert.
    QList<int> dirtyRows;
    dirtyRows.reserve(work.dirty.size());
    for (auto it = work.dirty.cbegin(); it != work.dirty.cend(); ++it) {
        if (!insertedHere.contains(it.key()))
            dirtyRows.append(it.key());
    }
    std::sort(dirtyRows.begin(), dirtyRows.end());
    for (int row : std::as_const(dirtyRows)) {
        const qint64 rowid = t.rowIds.value(row);
        if (rowid < 0)
            continue;
        if (const RowCells *cells = t.rows.find(row))
            work.changed.append(UpdateItem{row, rowid, *cells});
    }

    QSet<int> seen;
    for (int row : std::as_const(work.removed)) {
        if (seen.contains(row))
            continue;
        seen.insert(row);
        const qint64 rowid = t.rowIds.value(row);
        if (rowid >= 0)
            work.deletes.append(DeleteItem{row, rowid});
    }
    return true;
}

void Writer::planStatements(TableWork &work)
{
    // The statement each changed row needs follows from its own set of
    // columns alone.
    UpdateGroups groups(work);
    for (const UpdateItem &changed : std::as_const(work.changed)) {
        const int group = groups.groupOf(work.dirty.value(changed.row));
        if (group >= 0)
            work.updates[group].items.append(changed);
    }
    work.changed.clear();

    // In rowid order SQLite walks its pages once instead of jumping about.
    for (UpdateGroup &group : work.updates) {
        const auto byRowid = [](const UpdateItem &a, const UpdateItem &b) { return a.rowid < b.rowid; };
        if (!std::is_sorted(group.items.cbegin(), group.items.cend(), byRowid))
            std::sort(group.items.begin(), group.items.end(), byRowid);
    }
    std::sort(work.deletes.begin(), work.deletes.end(),
              [](const DeleteItem &a, const DeleteItem &b) { return a.rowid < b.rowid; });
}

bool Writer::inFile(const QString &name)
{
    if (fileTables.contains(name))
        return true;
    if (fileTablesRead)
        return false;
    // Read once per flush at most, so a table created since is found.
    fileTablesRead = true;
    QSqlQuery query(db());
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return true; // cannot tell: let the statements decide
    while (query.next())
        fileTables.insert(query.value(0).toString());
    return fileTables.contains(name);
}

void Writer::snapshotTables(QVector<TableWork> &work)
{
    fileTablesRead = false;
    QList<int> pending;
    QStringList names;
    {
        TableHold hold(longestHold);
        for (int table = 0; table < tables.size(); ++table) {
            const Table &t = tables.at(table);
            if (!t.insertedRows.isEmpty() || !t.dirtyCells.isEmpty() || !t.removedRows.isEmpty()) {
                pending.append(table);
                names.append(t.name);
            }
        }
    }

    // Asking the file runs SQL, so it happens before the hold below.
    QList<int> writable;
    for (qsizetype i = 0; i < pending.size(); ++i) {
        if (inFile(names.at(i))) {
            writable.append(pending.at(i));
            continue;
        }
        // A table added in memory only: nothing of it can be written, and
        // its statements must not fail the flush of every other table.
        if (!memoryOnly.contains(names.at(i))) {
            memoryOnly.insert(names.at(i));
            qCWarning(lcStore).noquote() << "Database: table" << names.at(i)
                                         << "is not in the database file; its changes stay in memory only";
        }
        TableHold hold(longestHold);
        Table &t = tables[pending.at(i)];
        t.insertedRows.clear();
        t.dirtyCells.clear();
        t.removedRows.clear();
        t.insertedWith.clear();
    }

    // Every table's pending lists and the rows they name are taken under one
    // hold, so the file receives one consistent cut of the store: an item's
    // rows in different tables never reach it half changed.
    {
        TableHold hold(longestHold);
        for (int table : std::as_const(writable)) {
            TableWork one;
            if (snapshotTableLocked(table, one))
                work.append(std::move(one));
        }
    }
    for (TableWork &one : work)
        planStatements(one);
}

bool Writer::prepare(QSqlQuery &query, const QString &sql, QString *error)
{
    query = QSqlQuery(db());
    if (query.prepare(sql))
        return true;
    *error = statementError(query, sql);
    return false;
}

QSqlQuery *Writer::insertQuery(const TableWork &work, QString *error)
{
    auto it = insertQueries.find(work.table);
    if (it == insertQueries.end()) {
        QStringList columns;
        QStringList marks;
        for (const QString &column : work.columnNames) {
            columns.append(quoteIdentifier(column));
            marks.append(QStringLiteral("?"));
        }
        const QString sql = work.columnNames.isEmpty()
                                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(work.name))
                                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(quoteIdentifier(work.name), columns.join(QStringLiteral(", ")),
                                           marks.join(QStringLiteral(", ")));
        QSqlQuery query;
        if (!prepare(query, sql, error))
            return nullptr;
        it = insertQueries.insert(work.table, query);
    }
    return &*it;
}

QSqlQuery *Writer::deleteQuery(const TableWork &work, QString *error)
{
    auto it = deleteQueries.find(work.table);
    if (it == deleteQueries.end()) {
        QSqlQuery query;
        if (!prepare(query, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoteIdentifier(work.name)),
                     error))
            return nullptr;
        it = deleteQueries.insert(work.table, query);
    }
    return &*it;
}

QSqlQuery *Writer::updateQuery(const TableWork &work, const QList<int> &columns, QString *error)
{
    QHash<QList<int>, QSqlQuery> &queries = updateQueries[work.table];
    auto it = queries.find(columns);
    if (it == queries.end()) {
        QStringList assignments;
        for (int column : columns)
            assignments.append(quoteIdentifier(work.columnNames.at(column)) + QStringLiteral(" = ?"));
        QSqlQuery query;
        if (!prepare(query,
                     QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                         .arg(quoteIdentifier(work.name), assignments.join(QStringLiteral(", "))),
                     error))
            return nullptr;
        it = queries.insert(columns, query);
    }
    return &*it;
}

// A cell as it is bound: date-times as their UTC text, which the driver
// would otherwise write in local time without an offset.
QVariant bound(const QVariant &cell)
{
    if (cell.typeId() != QMetaType::QDateTime)
        return cell;
    const QString text = utcText(*static_cast<const QDateTime *>(cell.constData()));
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

bool Writer::insertRow(const TableWork &work, InsertItem &item, QString *error)
{
    QSqlQuery *insert = insertQuery(work, error);
    if (!insert)
        return false;
    QSqlQuery &query = *insert;
    for (int column = 0; column < work.columnCount; ++column)
        query.bindValue(column, bound(item.values.at(column)));
    // The rowid comes from this very INSERT, and only when it succeeded.
    if (!query.exec()) {
        *error = statementError(query, QStringLiteral("INSERT INTO %1").arg(quoteIdentifier(work.name)));
        return false;
    }
    const QVariant rowid = query.lastInsertId();
    if (!rowid.isValid()) {
        *error = QStringLiteral("INSERT INTO %1 gave no rowid").arg(quoteIdentifier(work.name));
        return false;
    }
    item.rowid = rowid.toLongLong();
    return true;
}

bool Writer::writeTable(TableWork &work, QString *error)
{
    for (InsertItem &item : work.inserts) {
        if (!insertRow(work, item, error))
            return false;
    }

    // Every UPDATE and DELETE must touch exactly the one row it names; a
    // row that is not there means the file has drifted from memory (changed
    // behind the store's back). A changed row is then written again whole,
    // so that the file holds what memory holds.
    QVector<InsertItem> rewritten;
    qsizetype missingRemovals = 0;
    for (const UpdateGroup &group : std::as_const(work.updates)) {
        QSqlQuery *update = updateQuery(work, group.columns, error);
        if (!update)
            return false;
        QSqlQuery &query = *update;
        const int rowidPosition = int(group.columns.size());
        for (const UpdateItem &item : group.items) {
            for (int i = 0; i < rowidPosition; ++i)
                query.bindValue(i, bound(item.values.at(group.columns.at(i))));
            query.bindValue(rowidPosition, item.rowid);
            if (!query.exec()) {
                *error = statementError(query, QStringLiteral("UPDATE %1").arg(quoteIdentifier(work.name)));
                return false;
            }
            if (query.numRowsAffected() != 1)
                rewritten.append(InsertItem{item.row, item.values, -1});
        }
    }

    if (!work.deletes.isEmpty()) {
        QSqlQuery *remove = deleteQuery(work, error);
        if (!remove)
            return false;
        QSqlQuery &query = *remove;
        for (const DeleteItem &item : std::as_const(work.deletes)) {
            query.bindValue(0, item.rowid);
            if (!query.exec()) {
                *error = statementError(query, QStringLiteral("DELETE FROM %1").arg(quoteIdentifier(work.name)));
                return false;
            }
            if (query.numRowsAffected() != 1)
                ++missingRemovals;
        }
    }

    for (InsertItem &item : rewritten) {
        if (!insertRow(work, item, error))
            return false;
        work.inserts.append(item);
    }
    if (!rewritten.isEmpty() || missingRemovals > 0)
        qCWarning(lcStore).noquote() << "Database: table" << work.name << "in the file had lost" << rewritten.size()
                                     << "changed and" << missingRemovals
                                     << "removed row(s); the changed ones were written again";
    return true;
}

// The positions in `work` in groups that must be written together: tables
// linked by rows inserted together, directly or through other tables.
QList<QList<qsizetype>> linkedGroups(const QVector<TableWork> &work)
{
    QHash<int, qsizetype> positionOf;
    for (qsizetype i = 0; i < work.size(); ++i)
        positionOf.insert(work.at(i).table, i);
    QList<qsizetype> parent(work.size());
    for (qsizetype i = 0; i < work.size(); ++i)
        parent[i] = i;
    const auto root = [&parent](qsizetype i) {
        while (parent.at(i) != i)
            i = parent[i] = parent.at(parent.at(i));
        return i;
    };
    for (qsizetype i = 0; i < work.size(); ++i) {
        for (const int table : work.at(i).insertedWith) {
            const auto other = positionOf.constFind(table);
            if (other != positionOf.cend())
                parent[root(*other)] = root(i);
        }
    }
    QMap<qsizetype, QList<qsizetype>> groups;
    for (qsizetype i = 0; i < work.size(); ++i)
        groups[root(i)].append(i);
    return groups.values();
}

bool Writer::writeTables(QVector<TableWork> &work, QString *error)
{
    QSqlDatabase connection = db();
    if (!connection.transaction()) {
        *error = QStringLiteral("BEGIN failed: %1").arg(sqlReason(connection.lastError()));
        // A transaction left open by an earlier failure blocks every later one.
        rollback();
        return false;
    }
    // Each table's statements under a savepoint of their own: one table
    // that cannot be written holds back only its own work, and the tables
    // that rows inserted together link to it.
    QSqlQuery savepoint(connection);
    for (const QList<qsizetype> &group : linkedGroups(work)) {
        if (!savepoint.exec(QStringLiteral("SAVEPOINT table_work"))) {
            *error = statementError(savepoint, QStringLiteral("SAVEPOINT"));
            rollback();
            return false;
        }
        QString tableError;
        const bool written = std::all_of(group.cbegin(), group.cend(),
                                         [&](qsizetype i) { return writeTable(work[i], &tableError); });
        if (written) {
            if (savepoint.exec(QStringLiteral("RELEASE table_work")))
                continue;
            tableError = statementError(savepoint, QStringLiteral("RELEASE"));
        }
        for (const qsizetype i : group)
            work[i].failed = true;
        if (error->isEmpty())
            *error = tableError;
        // SQLite may have ended the whole transaction itself (a full disk can).
        if (!savepoint.exec(QStringLiteral("ROLLBACK TO table_work"))
            || !savepoint.exec(QStringLiteral("RELEASE table_work"))) {
            rollback();
            return false;
        }
    }
    if (!connection.commit()) {
        *error = QStringLiteral("COMMIT failed: %1").arg(sqlReason(connection.lastError()));
        rollback();
        return false;
    }
    return true;
}

void Writer::rollback()
{
    QSqlDatabase connection = db();
    if (connection.rollback())
        return;
    // SQLite may already have rolled back by itself (a full disk does that);
    // a BEGIN that succeeds proves the connection is usable again.
    QSqlQuery probe(connection);
    if (probe.exec(QStringLiteral("BEGIN")) && probe.exec(QStringLiteral("ROLLBACK")))
        return;
    // Stuck in a transaction: a fresh connection drops it.
    probe = QSqlQuery();
    dropStatements();
    connection.close();
    if (!connection.open())
        qCWarning(lcStore).noquote() << "Database: could not reopen the database connection:"
                                     << sqlReason(connection.lastError());
}

void Writer::applyCommitted(const QVector<TableWork> &work)
{
    for (const TableWork &one : work) {
        if (one.failed)
            continue;
        for (qsizetype i = 0; i < one.inserts.size();) {
            TableHold hold(longestHold);
            Table &t = tables[one.table];
            for (int n = 0; n < rowsPerHold && i < one.inserts.size(); ++n, ++i)
                t.rowIds.insert(one.inserts.at(i).row, one.inserts.at(i).rowid);
        }
        for (qsizetype i = 0; i < one.deletes.size();) {
            TableHold hold(longestHold);
            Table &t = tables[one.table];
            for (int n = 0; n < rowsPerHold && i < one.deletes.size(); ++n, ++i)
                t.rowIds.remove(one.deletes.at(i).row);
        }
    }
}

void Writer::putBack(const QVector<TableWork> &work)
{
    // The taken lists go back in front of whatever arrived meanwhile, so the
    // next flush sees every call since the last successful one, in order.
    for (const TableWork &one : work) {
        TableHold hold(longestHold);
        Table &t = tables[one.table];
        t.insertedRows = one.inserted + t.insertedRows;
        t.removedRows = one.removed + t.removedRows;
        for (auto it = one.dirty.cbegin(); it != one.dirty.cend(); ++it)
            t.dirtyCells[it.key()].unite(it.value());
        t.insertedWith.unite(one.insertedWith);
    }
}

FlushOutcome Writer::flushLocked(FlushKind kind)
{
    QElapsedTimer timer;
    timer.start();
    longestHold = 0;
    FlushOutcome outcome;

    FilePass files;
    takeRemovedFiles(files);
    QVector<TableWork> work;
    snapshotTables(work);
    takeFileSnapshot(files);

    // New files go to disk before the rows that name them are committed.
    const bool filesOk = writeFiles(files, ledger);
    if (!filesOk)
        outcome.failure = files.error;

    bool tablesOk = true;
    if (!work.isEmpty()) {
        QString error;
        // A row must never reach the file before the file it names: the cut
        // waits whole (it may hold rows that belong together) until the
        // file is written, or until its bytes come at all.
        if (namesAnyOf(work, files.failed)) {
            error = QStringLiteral("a file they name could not be written: %1").arg(files.error);
            for (TableWork &one : work)
                one.failed = true;
        } else if (namesAnyOf(work, files.awaited)) {
            outcome.waiting = true;
            for (TableWork &one : work)
                one.failed = true;
        } else if (writeTables(work, &error)) {
            applyCommitted(work);
        } else {
            for (TableWork &one : work)
                one.failed = true;
        }
        QVector<TableWork> failed;
        for (const TableWork &one : std::as_const(work)) {
            if (one.failed)
                failed.append(one);
        }
        putBack(failed);
        tablesOk = failed.isEmpty();
        if (!tablesOk && !outcome.waiting)
            outcome.failure = error;
        if (tablesOk && failing) {
            failing = false;
            qCInfo(lcStore) << "Database: pending changes written again";
        } else if (!tablesOk && !outcome.waiting && !failing) {
            failing = true;
            QStringList names;
            for (const TableWork &one : std::as_const(failed))
                names.append(one.name);
            qCWarning(lcStore).noquote() << "Database: could not write the changes of" << names.join(QStringLiteral(", "))
                                         << ", keeping them and retrying:" << error;
        }
        lastFlushNs.storeRelaxed(timer.nsecsElapsed());
        lastLongestHoldNs.storeRelaxed(longestHold);
    }

    finishFilePass(files, ledger, tablesOk, kind == FlushKind::Closing);
    spent = std::move(work);
    outcome.written = filesOk && tablesOk;
    return outcome;
}

bool Writer::anythingToWrite() const
{
    if (ledger.anythingToCommit() || filesPending())
        return true;
    QMutexLocker locker(&tableMutex);
    return std::any_of(tables.cbegin(), tables.cend(), [](const Table &t) {
        return !t.insertedRows.isEmpty() || !t.dirtyCells.isEmpty() || !t.removedRows.isEmpty();
    });
}

bool Writer::runStatement(const QString &sql, QVariant *firstValue)
{
    QSqlQuery query(db());
    const bool ok = query.exec(sql);
    if (ok && query.isSelect() && query.next())
        *firstValue = query.value(0);
    return ok;
}

} // namespace

class store_internal::FlushWriterPrivate : public Writer
{
public:
    using Writer::Writer;
};

namespace store_internal {

FlushWriter::FlushWriter(const QString &connectionName)
    : d(std::make_unique<FlushWriterPrivate>(connectionName))
{
}

FlushWriter::~FlushWriter() = default;

FlushOutcome FlushWriter::flushLocked(FlushKind kind)
{
    return d->flushLocked(kind);
}

bool FlushWriter::anythingToWrite() const
{
    return d->anythingToWrite();
}

void FlushWriter::releaseWork()
{
    d->releaseWork();
}

bool FlushWriter::runStatement(const QString &sql, QVariant *firstValue)
{
    return d->runStatement(sql, firstValue);
}

void FlushWriter::dropStatements()
{
    d->dropStatements();
}

FlushTiming lastFlushTiming()
{
    return FlushTiming{lastFlushNs.loadRelaxed(), lastLongestHoldNs.loadRelaxed()};
}

} // namespace store_internal
