// Reading the tables of the file into memory: one SELECT per table, or, for
// a file the opening left as it was, parts of tables side by side.

#include "tableload_p.h"

#include "indexbuild_p.h"
#include "writer_p.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadPool>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

using namespace store_internal;

namespace {

// A text cell's bytes as stored, in UTF-8, and whether they are all ASCII
// (the most common texts by far).
struct Utf8Text
{
    const char *bytes;
    int size;
    bool ascii;
};

Utf8Text utf8Of(sqlite3_value *value)
{
    Utf8Text text{reinterpret_cast<const char *>(sqlite3_value_text(value)), sqlite3_value_bytes(value), true};
    // Eight bytes at a time: long texts (drawn strokes) are most of a file.
    quint64 bits = 0;
    int i = 0;
    for (; i + 8 <= text.size; i += 8) {
        quint64 word;
        std::memcpy(&word, text.bytes + i, sizeof(word));
        bits |= word;
    }
    for (; i < text.size; ++i)
        bits |= uchar(text.bytes[i]);
    text.ascii = (bits & 0x8080808080808080ULL) == 0;
    return text;
}

// A text cell. ASCII text is taken straight from the stored UTF-8; anything
// else goes through SQLite's own conversion, as QSqlQuery's does, so that
// every text reads back alike.
Cell columnText(sqlite3_value *value, const Utf8Text &utf8)
{
    if (utf8.ascii)
        return Cell::latin1(utf8.bytes, utf8.size);
    const void *text = sqlite3_value_text16(value);
    return Cell::text(
        QString(static_cast<const QChar *>(text), sqlite3_value_bytes16(value) / qsizetype(sizeof(QChar))));
}

// A date-time column's text that carries its offset, as the date-time it
// names: what storing the text would make of it.
bool columnDateTime(const Utf8Text &utf8, Cell *cell)
{
    qint64 msecs = 0;
    if (!(utf8.ascii ? utcFromText(QLatin1String(utf8.bytes, utf8.size), &msecs)
                     : utcFromText(QString::fromUtf8(utf8.bytes, utf8.size), &msecs)))
        return false;
    *cell = Cell::utcDateTime(msecs);
    return true;
}

// A helper thread's heap grows by a page or two at a time under glibc,
// each step a call that holds up the page faults of every other thread: a
// reader would make thousands. Taking the room it is to fill in large
// pieces and giving them back at once leaves its heap grown, the pages
// untouched and free, and the reading grows it no more.
void growHeapAhead(qint64 bytes)
{
#ifdef __GLIBC__
    // Below the size from which malloc maps memory apart from the heap; at
    // most the room of one heap.
    constexpr qint64 piece = 64 * 1024;
    constexpr qint64 most = 32 * 1024 * 1024;
    std::vector<void *> pieces;
    pieces.reserve(size_t(std::min(bytes, most) / piece) + 1);
    for (qint64 taken = 0; taken < std::min(bytes, most); taken += piece)
        pieces.push_back(std::malloc(size_t(piece)));
    for (void *taken : pieces)
        std::free(taken);
#else
    Q_UNUSED(bytes);
#endif
}

// Rows as one SELECT gives them, in its order, with their rowids, and the
// entries of the value indexes made while reading (their rows numbered from
// 0 in this order).
struct ReadRows
{
    std::vector<RowCells> cells;
    std::vector<qint64> rowIds;
    std::vector<std::vector<IndexEntry>> keys; // by KeyedColumns::columns
};

// The columns of a table whose value indexes are made while it is read:
// its declared key columns that hold whole numbers (ids and parents), whose
// entries hold their keys whole and sort without a look at a cell. `of` is
// by column: the position in `columns`, or -1.
struct KeyedColumns
{
    std::vector<int> columns;
    std::vector<int> of;
};

KeyedColumns keyedColumns(const Table &table, const QList<QPair<QString, QString>> &keys)
{
    KeyedColumns keyed;
    keyed.of.assign(size_t(table.columnCount), -1);
    for (const auto &[name, column] : keys) {
        const int at = name == table.name ? table.columnIds.value(column, -1) : -1;
        if (at >= 0 && table.kindOf(at) == ColumnKind::Integer && keyed.of[size_t(at)] < 0) {
            keyed.of[size_t(at)] = int(keyed.columns.size());
            keyed.columns.push_back(at);
        }
    }
    return keyed;
}

// Runs `sql` (rowid first, then one column per kind; `from` and `to` bound to its
// parameters when it has them) and makes each row's cells in place. Read
// straight from SQLite: a QSqlQuery would build every row once more and copy
// it cell by cell. The values are those QSqlQuery gives (text as QString,
// NULL as a null QString), except that a date-time column's texts with an
// offset become UTC date-times. "" or what went wrong.
QString readRows(sqlite3 *connection, const QByteArray &sql, const QVector<ColumnKind> &kinds, const KeyedColumns &keyed,
                 qint64 from, qint64 to, ReadRows *rows)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(connection));
    const auto finalize = qScopeGuard([statement] { sqlite3_finalize(statement); });
    if (sqlite3_bind_parameter_count(statement) == 2) {
        sqlite3_bind_int64(statement, 1, from);
        sqlite3_bind_int64(statement, 2, to);
    }
    const int count = int(kinds.size());
    RowCells::Batch batch(count);
    rows->keys.resize(keyed.columns.size());
    // Reserved for the whole range, which a part keeps small: no row is
    // moved as the lists grow.
    if (to >= from && to - from < (qint64(1) << 20)) {
        rows->cells.reserve(size_t(to - from + 1));
        rows->rowIds.reserve(size_t(to - from + 1));
        for (std::vector<IndexEntry> &entries : rows->keys)
            entries.reserve(size_t(to - from + 1));
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        RowCells cells = batch.take();
        const int row = int(rows->cells.size());
        for (int i = 1; i <= count; ++i) {
            const int key = keyed.of[size_t(i - 1)];
            // The reader's connection has no mutex, so the column's value
            // is read through its handle, without one lock a call.
            sqlite3_value *value = sqlite3_column_value(statement, i);
            const int type = sqlite3_value_type(value);
            if (type == SQLITE_INTEGER) {
                const qint64 number = sqlite3_value_int64(value);
                cells.put(i - 1, Cell::integer(number));
                if (key >= 0)
                    rows->keys[size_t(key)].push_back(IndexEntry::ofInteger(number, row));
                continue;
            }
            switch (type) {
            case SQLITE_FLOAT:
                cells.put(i - 1, Cell::real(sqlite3_value_double(value)));
                break;
            case SQLITE_BLOB: {
                // An empty blob comes without bytes; it is still no NULL.
                const char *bytes = static_cast<const char *>(sqlite3_value_blob(value));
                cells.put(i - 1, Cell(QVariant(QByteArray(bytes ? bytes : "", sqlite3_value_bytes(value)))));
                break;
            }
            case SQLITE_NULL:
                cells.put(i - 1, Cell::typedNullText());
                break;
            default: {
                const Utf8Text text = utf8Of(value);
                Cell dateTime;
                if (kinds.at(i - 1) == ColumnKind::DateTime && columnDateTime(text, &dateTime))
                    cells.put(i - 1, std::move(dateTime));
                else
                    cells.put(i - 1, columnText(value, text));
                break;
            }
            }
            if (key >= 0)
                rows->keys[size_t(key)].push_back(IndexEntry::of(IndexKey::of(cells.at(i - 1)), row));
        }
        rows->cells.push_back(std::move(cells));
        rows->rowIds.push_back(sqlite3_column_int64(statement, 0));
    }
    return step == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(connection));
}

// The SELECT of a table's rowid and `columns`.
QString selectOf(const QString &table, const QList<Column> &columns)
{
    QStringList names{QStringLiteral("rowid")};
    for (const Column &column : columns)
        names.append(quoteIdentifier(column.name));
    return QStringLiteral("SELECT %1 FROM %2").arg(names.join(QStringLiteral(", ")), quoteIdentifier(table));
}

// Gives the table its name and columns, with the kind of value each holds.
void nameColumns(Table *table, const QString &name, const QList<Column> &columns)
{
    table->name = name;
    table->columnCount = int(columns.size());
    for (int i = 0; i < columns.size(); ++i) {
        table->columnNames.append(columns.at(i).name);
        table->columnKinds.append(columnKindOf(columns.at(i).type));
        table->columnIds.insert(columns.at(i).name, i);
    }
}

// A table's columns as the file has them, and the SELECT that reads its rows.
bool prepareTable(const QSqlDatabase &db, const QString &name, Table *table, QString *select, QString *error)
{
    QList<Column> columns;
    if (!tableColumns(db, name, &columns, error))
        return false;
    nameColumns(table, name, columns);
    *select = selectOf(name, columns);
    return true;
}

// Each table's columns in file order and the bounds of its rowids, found
// with two statements for all the tables: one statement a table would cost
// more than the reading of many a table. `first` is null for a table without
// rows. "" or what went wrong.
struct TableShape
{
    QList<Column> columns;
    QVariant first;
    qint64 last = 0;
};

QString shapesOf(sqlite3 *connection, const QStringList &names, QHash<QString, TableShape> *shapes)
{
    sqlite3_stmt *statement = nullptr;
    const auto finalize = qScopeGuard([&statement] { sqlite3_finalize(statement); });
    const auto prepare = [&](const QByteArray &sql) {
        sqlite3_finalize(std::exchange(statement, nullptr));
        return sqlite3_prepare_v2(connection, sql.constData(), int(sql.size()), &statement, nullptr) == SQLITE_OK;
    };
    const auto text = [&statement](int column) {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                                 sqlite3_column_bytes(statement, column));
    };
    if (!prepare("SELECT m.name, p.name, p.type FROM sqlite_master AS m, pragma_table_info(m.name) AS p "
                 "WHERE m.type = 'table' ORDER BY m.name, p.cid"))
        return QString::fromUtf8(sqlite3_errmsg(connection));
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        (*shapes)[text(0)].columns.append(Column{text(1), text(2)});
    if (step != SQLITE_DONE)
        return QString::fromUtf8(sqlite3_errmsg(connection));
    // Each bound in a subquery of its own: SQLite looks up a lone min() or
    // max() of the rowid in the b-tree, but reads the whole table for both
    // together. (The tables are the declared ones, far fewer than SQLite's
    // limit on result columns.)
    if (names.isEmpty())
        return QString();
    QStringList bounds;
    for (const QString &name : names) {
        bounds.append(QStringLiteral("(SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)")
                          .arg(quoteIdentifier(name)));
    }
    if (!prepare(QStringLiteral("SELECT %1").arg(bounds.join(QStringLiteral(", "))).toUtf8())
        || sqlite3_step(statement) != SQLITE_ROW)
        return QString::fromUtf8(sqlite3_errmsg(connection));
    for (int i = 0; i < names.size(); ++i) {
        TableShape &shape = (*shapes)[names.at(i)];
        if (sqlite3_column_type(statement, 2 * i) != SQLITE_NULL)
            shape.first = sqlite3_column_int64(statement, 2 * i);
        shape.last = sqlite3_column_int64(statement, 2 * i + 1);
    }
    return QString();
}

// Rows are numbered from 1 in the order of the parts; they are neither new
// nor changed. The value indexes of the keyed columns are made from the
// entries read with them.
void takeRows(Table *table, std::vector<ReadRows> &parts, const KeyedColumns &keyed)
{
    size_t count = 0;
    for (const ReadRows &part : parts)
        count += part.cells.size();
    std::vector<qint64> rowIds{-1}; // row n's rowid at position n; nothing is row 0
    rowIds.reserve(count + 1);
    std::vector<std::vector<IndexEntry>> keys(keyed.columns.size());
    for (std::vector<IndexEntry> &entries : keys)
        entries.reserve(count);
    table->rows.reserve(int(count));
    for (ReadRows &part : parts) {
        const int first = int(rowIds.size());
        for (size_t i = 0; i < part.cells.size(); ++i) {
            table->rows.insert(int(rowIds.size()), std::move(part.cells[i]));
            rowIds.push_back(part.rowIds[i]);
        }
        for (size_t k = 0; k < keys.size(); ++k) {
            for (IndexEntry entry : part.keys[k]) {
                entry.row += first;
                keys[k].push_back(entry);
            }
        }
        part = ReadRows();
    }
    table->nextRowNumber = int(rowIds.size());
    table->rowIds = RowIds(std::move(rowIds));
    for (size_t k = 0; k < keys.size(); ++k) {
        std::vector<ValueIndex::Entry> sorted;
        sorted.reserve(count);
        sortIntoIndexOrder(keys[k], table->cellsOf(keyed.columns[k]), sorted);
        // Cells read from the file are of no unusual type.
        table->valueIndexes[keyed.columns[k]].assign(std::move(sorted));
    }
}

} // namespace

namespace store_internal {

sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    return qstrcmp(handle.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3 *const *>(handle.data()) : nullptr;
}

// Reads one table whole with a single forward-only SELECT, in file order.
bool loadTable(const QSqlDatabase &db, const QString &name, Table *table, QString *error)
{
    QString select;
    if (!prepareTable(db, name, table, &select, error))
        return false;
    sqlite3 *connection = sqliteHandle(db);
    if (!connection)
        return fail(error, QStringLiteral("cannot load %1: no SQLite connection").arg(name));
    const KeyedColumns keyed = keyedColumns(*table, declaredKeyColumns());
    std::vector<ReadRows> parts(1);
    const QString failure = readRows(connection, select.toUtf8(), table->columnKinds, keyed, 0, -1, &parts[0]);
    if (!failure.isEmpty())
        return fail(error, QStringLiteral("cannot load %1: %2").arg(name, failure));
    takeRows(table, parts, keyed);
    return true;
}

// Reads the tables of a file that this opening has not changed, side by side
// on the thread pool, each reader on a read-only connection of its own. A
// large table is read in ranges of rowids, which keep the file's order when
// put back together. No other connection can commit meanwhile: the caller's
// transaction holds the file's write lock.
bool loadTablesSideBySide(const QSqlDatabase &db, const QString &path, const QStringList &names,
                          QVector<Table> *loaded, QString *error)
{
    // Parts small enough that one table of long rows (drawn strokes) is
    // shared out among the readers rather than left to one of them.
    constexpr quint64 rowidsPerPart = 1024;
    constexpr quint64 maxParts = 64;
    struct Part
    {
        int table;
        QByteArray sql;
        qint64 from;
        qint64 to;
    };
    QVector<Table> read(names.size());
    std::vector<Part> parts;
    std::vector<size_t> firstPart;
    sqlite3 *connection = sqliteHandle(db);
    if (!connection)
        return fail(error, QStringLiteral("cannot load the tables: no SQLite connection"));
    QHash<QString, TableShape> shapes;
    const QString failure = shapesOf(connection, names, &shapes);
    if (!failure.isEmpty())
        return fail(error, QStringLiteral("cannot load the tables: %1").arg(failure));
    const QList<QPair<QString, QString>> keys = declaredKeyColumns();
    std::vector<KeyedColumns> keyed;
    for (int i = 0; i < names.size(); ++i) {
        const TableShape shape = shapes.value(names.at(i));
        nameColumns(&read[i], names.at(i), shape.columns);
        keyed.push_back(keyedColumns(read.at(i), keys));
        firstPart.push_back(parts.size());
        if (shape.first.isNull())
            continue; // no rows
        // Equal ranges of rowids, at most maxParts: rowids far apart make
        // uneven parts, never many. Offsets from the first rowid are counted
        // without sign, so that no range overflows.
        const QByteArray sql =
            (selectOf(names.at(i), shape.columns) + QStringLiteral(" WHERE rowid BETWEEN ? AND ?")).toUtf8();
        const qint64 first = shape.first.toLongLong();
        const quint64 span = quint64(shape.last) - quint64(first); // last offset
        const quint64 count = std::min<quint64>(span / rowidsPerPart + 1, maxParts);
        const quint64 step = span / count + 1;
        for (quint64 k = 0; k < count; ++k) {
            const quint64 to = k + 1 == count ? span : (k + 1) * step - 1;
            parts.push_back(Part{i, sql, qint64(quint64(first) + k * step), qint64(quint64(first) + to)});
        }
    }
    firstPart.push_back(parts.size());

    std::vector<ReadRows> rows(parts.size());
    std::vector<QString> failures(parts.size());
    QAtomicInt nextPart;
    // A table is put together by the reader that reads its last part, while
    // the others read on.
    std::vector<std::atomic<size_t>> unread(size_t(names.size()));
    for (size_t i = 0; i < unread.size(); ++i)
        unread[i] = firstPart[i + 1] - firstPart[i];
    Table *const tablesRead = read.data();
    const auto takeTable = [&](int i) {
        std::vector<ReadRows> ofTable(std::make_move_iterator(rows.begin() + qsizetype(firstPart[size_t(i)])),
                                      std::make_move_iterator(rows.begin() + qsizetype(firstPart[size_t(i) + 1])));
        takeRows(&tablesRead[i], ofTable, keyed[size_t(i)]);
    };
    const QByteArray file = QFile::encodeName(path);
    const auto work = [&] {
        sqlite3 *connection = nullptr;
        const auto close = qScopeGuard([&connection] { sqlite3_close(connection); });
        const bool opened =
            sqlite3_open_v2(file.constData(), &connection, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr)
            == SQLITE_OK;
        if (opened) {
            sqlite3_busy_timeout(connection, busyTimeoutMs);
            // Each page is read once, so a few pages do: their buffers are
            // used again rather than each page's bought and freed, under
            // SQLite's one lock for all its allocations.
            sqlite3_exec(connection, "PRAGMA cache_size = 16", nullptr, nullptr, nullptr);
        }
        for (int at; (at = nextPart.fetchAndAddRelaxed(1)) < int(parts.size());) {
            const Part &part = parts[size_t(at)];
            failures[size_t(at)] = opened ? readRows(connection, part.sql, read.at(part.table).columnKinds,
                                                     keyed[size_t(part.table)], part.from, part.to, &rows[size_t(at)])
                                          : QString::fromUtf8(sqlite3_errmsg(connection));
            if (--unread[size_t(part.table)] == 0)
                takeTable(part.table);
        }
    };
    // Helpers only where the pool has a thread free now; this thread reads
    // too. Past four readers the reading gains nothing: they wait on page
    // faults and on the allocator, whose heaps the program keeps few.
    constexpr int maxReaders = 4;
    QSemaphore finished;
    int helpers = 0;
    // None where every table is empty.
    const int wanted = std::max(0, std::min({QThread::idealThreadCount(), maxReaders, int(parts.size())}) - 1);
    // A helper's share of the memory the tables are to take, about the
    // file's size.
    const qint64 share = QFileInfo(path).size() / qint64(wanted + 1);
    while (helpers < wanted && QThreadPool::globalInstance()->tryStart([&] {
        growHeapAhead(share);
        work();
        finished.release();
    }))
        ++helpers;
    work();
    finished.acquire(helpers);

    for (size_t at = 0; at < parts.size(); ++at) {
        if (!failures[at].isEmpty())
            return fail(error, QStringLiteral("cannot load %1: %2").arg(names.at(parts[at].table), failures[at]));
    }
    // Tables without rows have no part that a reader took.
    for (int i = 0; i < names.size(); ++i) {
        if (firstPart[size_t(i)] == firstPart[size_t(i) + 1])
            takeTable(i);
    }
    *loaded = std::move(read);
    return true;
}

} // namespace store_internal
