// Reading the tables of the file into memory: one SELECT per table, or, for
// a file the opening left as it was, parts of tables side by side.

#include "tableload_p.h"

#include "writer_p.h"

#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadPool>

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace store_internal;

namespace {

// A text cell. ASCII text, the most common by far, is taken straight from
// the stored UTF-8; anything else goes through SQLite's own conversion, as
// QSqlQuery's does, so that every text reads back alike.
Cell columnText(sqlite3_stmt *statement, int column)
{
    const auto *utf8 = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    bool ascii = true;
    for (int i = 0; i < size; ++i)
        ascii &= uchar(utf8[i]) < 0x80;
    if (ascii)
        return Cell::latin1(utf8, size);
    const void *text = sqlite3_column_text16(statement, column);
    return Cell::text(
        QString(static_cast<const QChar *>(text), sqlite3_column_bytes16(statement, column) / qsizetype(sizeof(QChar))));
}

// Rows as one SELECT gives them, in its order, with their rowids.
struct ReadRows
{
    std::vector<RowCells> cells;
    std::vector<qint64> rowIds;
};

// Runs `sql` (rowid first, then `count` columns; `from` and `to` bound to its
// parameters when it has them) and makes each row's cells in place. Read
// straight from SQLite: a QSqlQuery would build every row once more and copy
// it cell by cell. The values are those QSqlQuery gives (text as QString,
// NULL as a null QString). "" or what went wrong.
QString readRows(sqlite3 *connection, const QByteArray &sql, int count, qint64 from, qint64 to, ReadRows *rows)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(connection));
    const auto finalize = qScopeGuard([statement] { sqlite3_finalize(statement); });
    if (sqlite3_bind_parameter_count(statement) == 2) {
        sqlite3_bind_int64(statement, 1, from);
        sqlite3_bind_int64(statement, 2, to);
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        RowCells cells(count);
        for (int i = 1; i <= count; ++i) {
            switch (sqlite3_column_type(statement, i)) {
            case SQLITE_INTEGER:
                cells.set(i - 1, Cell::integer(sqlite3_column_int64(statement, i)));
                break;
            case SQLITE_FLOAT:
                cells.set(i - 1, Cell::real(sqlite3_column_double(statement, i)));
                break;
            case SQLITE_BLOB: {
                const char *bytes = static_cast<const char *>(sqlite3_column_blob(statement, i));
                cells.set(i - 1, QVariant(QByteArray(bytes, sqlite3_column_bytes(statement, i))));
                break;
            }
            case SQLITE_NULL:
                cells.set(i - 1, Cell::typedNullText());
                break;
            default:
                cells.set(i - 1, columnText(statement, i));
                break;
            }
        }
        rows->cells.push_back(std::move(cells));
        rows->rowIds.push_back(sqlite3_column_int64(statement, 0));
    }
    return step == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(connection));
}

// A table's columns as the file has them, and the SELECT that reads its rows.
bool prepareTable(const QSqlDatabase &db, const QString &name, Table *table, QString *select, QString *error)
{
    QList<Column> columns;
    if (!tableColumns(db, name, &columns, error))
        return false;
    table->name = name;
    table->columnCount = int(columns.size());
    QStringList names{QStringLiteral("rowid")};
    for (int i = 0; i < columns.size(); ++i) {
        table->columnNames.append(columns.at(i).name);
        table->columnIds.insert(columns.at(i).name, i);
        names.append(quoteIdentifier(columns.at(i).name));
    }
    *select = QStringLiteral("SELECT %1 FROM %2").arg(names.join(QStringLiteral(", ")), quoteIdentifier(name));
    return true;
}

// Rows are numbered from 1 in the order of the parts; they are neither new
// nor changed.
void takeRows(Table *table, std::vector<ReadRows> &parts)
{
    std::vector<qint64> rowIds{-1}; // row n's rowid at position n; nothing is row 0
    for (ReadRows &part : parts) {
        for (size_t i = 0; i < part.cells.size(); ++i) {
            table->rows.insert(int(rowIds.size()), std::move(part.cells[i]));
            rowIds.push_back(part.rowIds[i]);
        }
        part = ReadRows();
    }
    table->rows.squeeze();
    table->nextRowNumber = int(rowIds.size());
    table->rowIds = RowIds(std::move(rowIds));
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
    std::vector<ReadRows> parts(1);
    const QString failure = readRows(connection, select.toUtf8(), table->columnCount, 0, 0, &parts[0]);
    if (!failure.isEmpty())
        return fail(error, QStringLiteral("cannot load %1: %2").arg(name, failure));
    takeRows(table, parts);
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
    for (int i = 0; i < names.size(); ++i) {
        QString select;
        if (!prepareTable(db, names.at(i), &read[i], &select, error))
            return false;
        // Each bound in a query of its own: SQLite looks up a lone min() or
        // max() of the rowid in the b-tree, but reads the whole table for
        // both together.
        QSqlQuery bounds(db);
        const QString table = quoteIdentifier(names.at(i));
        if (!bounds.exec(QStringLiteral("SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)").arg(table))
            || !bounds.next())
            return fail(error, QStringLiteral("cannot load %1: %2").arg(names.at(i), bounds.lastError().text()));
        firstPart.push_back(parts.size());
        if (bounds.value(0).isNull())
            continue; // no rows
        // Equal ranges of rowids, at most maxParts: rowids far apart make
        // uneven parts, never many. Offsets from the first rowid are counted
        // without sign, so that no range overflows.
        const QByteArray sql = (select + QStringLiteral(" WHERE rowid BETWEEN ? AND ?")).toUtf8();
        const qint64 first = bounds.value(0).toLongLong();
        const quint64 span = quint64(bounds.value(1).toLongLong()) - quint64(first); // last offset
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
    const QByteArray file = QFile::encodeName(path);
    const auto work = [&] {
        sqlite3 *connection = nullptr;
        const auto close = qScopeGuard([&connection] { sqlite3_close(connection); });
        const bool opened =
            sqlite3_open_v2(file.constData(), &connection, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr)
            == SQLITE_OK;
        if (opened) {
            sqlite3_busy_timeout(connection, busyTimeoutMs);
            // Each page is read once: a cache would only hold memory that
            // this thread's heap keeps.
            sqlite3_exec(connection, "PRAGMA cache_size = 0", nullptr, nullptr, nullptr);
        }
        for (int at; (at = nextPart.fetchAndAddRelaxed(1)) < int(parts.size());) {
            const Part &part = parts[size_t(at)];
            failures[size_t(at)] = opened ? readRows(connection, part.sql, read.at(part.table).columnCount, part.from,
                                                     part.to, &rows[size_t(at)])
                                          : QString::fromUtf8(sqlite3_errmsg(connection));
        }
    };
    // Helpers only where the pool has a thread free now; this thread reads too.
    QSemaphore finished;
    int helpers = 0;
    const int wanted = std::min(QThread::idealThreadCount(), int(parts.size())) - 1;
    while (helpers < wanted && QThreadPool::globalInstance()->tryStart([&] {
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
    for (int i = 0; i < names.size(); ++i) {
        std::vector<ReadRows> ofTable(std::make_move_iterator(rows.begin() + qsizetype(firstPart[size_t(i)])),
                                      std::make_move_iterator(rows.begin() + qsizetype(firstPart[size_t(i) + 1])));
        takeRows(&read[i], ofTable);
    }
    *loaded = std::move(read);
    return true;
}

} // namespace store_internal
