// The in-memory tables: rows, cells and the change lists the flush consumes.

#include "database_p.h"
#include "storelog.h"

#include <QVarLengthArray>

#include <utility>

namespace store_internal {

QVector<Table> tables;
QHash<QString, int> tableIds;
QMutex tableMutex;

} // namespace store_internal

using namespace store_internal;

void Table::addRow(int row, RowCells &&cells)
{
    rows.insert(row, std::move(cells));
    for (auto index = valueIndexes.begin(); index != valueIndexes.end(); ++index)
        index->insert(row, cellsOf(index.key()));
}

void Table::setCell(int row, int column, const QVariant &value)
{
    RowCells *cells = rows.find(row);
    if (!cells || column < 0 || column >= cells->size())
        return;
    // The index finds the row's entry through the cell's old value.
    const auto index = valueIndexes.find(column);
    if (index != valueIndexes.end())
        index->erase(row, cellsOf(column));
    cells->set(column, value);
    if (index != valueIndexes.end())
        index->insert(row, cellsOf(column));
}

RowCells Table::newCells() const
{
    // A column of the file holds NULL where nothing was set, as it reads back.
    return columnKinds.isEmpty() ? RowCells(columnCount) : RowCells(columnCount, Cell::typedNullText());
}

bool Table::changes(int column, const QVariant &cell, const QVariant &value, QVariant *stored) const
{
    const ColumnKind kind = kindOf(column);
    if (kind == ColumnKind::Unbound) {
        *stored = value;
        return !cellEquals(cell, value);
    }
    *stored = storedForm(value, kind);
    return !sameStoredValue(cell, *stored);
}

void Table::removeRow(int row)
{
    for (auto index = valueIndexes.begin(); index != valueIndexes.end(); ++index)
        index->erase(row, cellsOf(index.key()));
    rows.erase(row);
}

namespace {

bool validTable(int table)
{
    return table >= 0 && table < tables.size();
}

} // namespace

int Database::addTable(const QString &name, const QStringList &columns)
{
    Table table;
    table.name = name;
    table.columnCount = int(columns.size());
    table.columnNames.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i) {
        table.columnNames.append(columns.at(i));
        table.columnIds.insert(columns.at(i), i); // a repeated name maps to its later position
    }

    QMutexLocker locker(&tableMutex);
    const int number = int(tables.size());
    tableIds.insert(name, number);
    tables.append(std::move(table));
    return number;
}

int Database::tableId(const QString &name)
{
    QMutexLocker locker(&tableMutex);
    return tableIds.value(name, -1);
}

QString Database::tableName(int table)
{
    QMutexLocker locker(&tableMutex);
    return validTable(table) ? tables.at(table).name : QString();
}

int Database::columnId(int table, const QString &column)
{
    QMutexLocker locker(&tableMutex);
    return validTable(table) ? tables.at(table).columnIds.value(column, -1) : -1;
}

QString Database::columnName(int table, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return QString();
    const Table &t = tables.at(table);
    if (column < 0 || column >= t.columnCount)
        return QString();
    return t.columnNames.at(column);
}

QStringList Database::columnNames(int table)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return QStringList();
    return tables.at(table).columnNames;
}

Conditions Database::columnIds(int table, const QVariantMap &byName)
{
    // Unknown names all land on key -1, which every lookup rejects.
    Conditions result;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        result.insert(columnId(table, it.key()), it.value());
    return result;
}

int Database::tableCount()
{
    QMutexLocker locker(&tableMutex);
    return int(tables.size());
}

int Database::newRow(int table)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return -1;
    Table &t = tables[table];
    const int row = t.nextRowNumber++;
    t.addRow(row, t.newCells());
    t.insertedRows.append(row);
    return row;
}

namespace {

// False, with a warning, for a text that the file would not give back as
// it is: an unpaired UTF-16 surrogate takes the next character with it on
// the way to SQLite's UTF-8 and back.
bool storable(const Table &t, int column, const QVariant &value)
{
    if (value.typeId() != QMetaType::QString)
        return true;
    const QString &text = *static_cast<const QString *>(value.constData());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!QChar::isSurrogate(c))
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            ++i;
            continue;
        }
        qCWarning(lcStore).noquote() << "Database: refused a text with an unpaired UTF-16 surrogate for"
                                     << t.name + QLatin1Char('.') + t.columnNames.value(column)
                                     << "; the file could not keep it unchanged";
        return false;
    }
    return true;
}

// Whether every cell that insertRowLocked would set can be stored.
template <typename ForEachCell>
bool storableRow(const Table &t, ForEachCell forEachCell)
{
    bool ok = true;
    forEachCell([&](int column, const QVariant &value) {
        ok = ok && (column < 0 || column >= t.columnCount || storable(t, column, value));
    });
    return ok;
}

// A new row with its cells, made in one step so that a flush never takes it
// half filled; the caller holds tableMutex and has checked the table and
// the cells (storableRow). `forEachCell` calls its argument with each
// (column, value).
template <typename ForEachCell>
int insertRowLocked(Table &t, ForEachCell forEachCell)
{
    const int row = t.nextRowNumber++;
    RowCells cells = t.newCells();
    forEachCell([&](int column, const QVariant &value) {
        QVariant stored;
        if (column >= 0 && column < t.columnCount && t.changes(column, cells.at(column), value, &stored))
            cells.set(column, stored);
    });
    t.addRow(row, std::move(cells));
    t.insertedRows.append(row);
    return row;
}

} // namespace

namespace {

auto cellsOfMap(const Conditions &values)
{
    return [&values](const auto &cell) {
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            cell(it.key(), it.value());
    };
}

auto cellsOfNewRow(const NewRow &row)
{
    return [&row](const auto &cell) {
        for (const auto &[column, value] : row.cells)
            cell(column, value);
    };
}

} // namespace

int Database::insertRow(int table, const Conditions &values)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || !storableRow(tables.at(table), cellsOfMap(values)))
        return -1;
    return insertRowLocked(tables[table], cellsOfMap(values));
}

bool Database::insertRows(std::span<const NewRow> rows)
{
    QMutexLocker locker(&tableMutex);
    for (const NewRow &row : rows) {
        if (!validTable(row.table) || !storableRow(tables.at(row.table), cellsOfNewRow(row)))
            return false;
    }
    QSet<int> touched;
    for (const NewRow &row : rows) {
        insertRowLocked(tables[row.table], cellsOfNewRow(row));
        touched.insert(row.table);
    }
    // The flush writes tables linked here under one savepoint: all or none.
    if (touched.size() > 1) {
        for (const int table : std::as_const(touched))
            tables[table].insertedWith.unite(touched);
    }
    return true;
}

bool Database::insertUnique(int table, const Conditions &values)
{
    // A null would match any set cell, so uniqueness could not be told.
    for (const QVariant &value : values) {
        if (isNullValue(value))
            return false;
    }
    // The test and the insertion under one hold: no other caller can insert
    // an equal row in between.
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || !storableRow(tables.at(table), cellsOfMap(values)))
        return false;
    if (findRowLocked(tables.at(table), values, true) > 0)
        return false;
    return insertRowLocked(tables[table], cellsOfMap(values)) > 0;
}

bool Database::setValue(int table, int row, int column, const QVariant &value)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || row < 1 || column < 0)
        return false;
    Table &t = tables[table];
    if (column >= t.columnCount)
        return false;
    const RowCells *cells = t.rows.find(row);
    QVariant stored;
    if (!cells || !t.changes(column, cells->at(column), value, &stored) || !storable(t, column, value))
        return false;
    t.setCell(row, column, stored);
    t.dirtyCells[row].insert(column);
    return true;
}

QVariant Database::storedValue(int table, int column, const QVariant &value)
{
    ColumnKind kind = ColumnKind::Unbound;
    {
        QMutexLocker locker(&tableMutex);
        if (validTable(table))
            kind = tables.at(table).kindOf(column);
    }
    return storedForm(value, kind);
}

bool Database::removeRow(int table, int row)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table))
        return false;
    Table &t = tables[table];
    // Only a row that exists is listed: a listed number that the flush later
    // hands out a rowid for must never delete somebody else's row.
    if (!t.rows.find(row))
        return false;
    t.removedRows.append(row);
    t.removeRow(row);
    return true;
}

QVariant Database::value(int table, int row, int column)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || row < 1 || column < 0)
        return QVariant();
    const Table &t = tables.at(table);
    const RowCells *cells = t.rows.find(row);
    if (!cells || column >= cells->size())
        return QVariant();
    return cells->at(column);
}

QVector<QVariant> Database::columnValues(const RowCursor &cursor, int column)
{
    QVector<QVariant> result;
    QMutexLocker locker(&tableMutex);
    if (!validTable(cursor.table) || column < 0)
        return result;
    const Table &t = tables.at(cursor.table);
    // Rows found by an index lie scattered over memory: find every cell
    // first, asking the processor for them all at once, then copy them.
    QVarLengthArray<const Cell *, 64> found;
    found.reserve(cursor.rows.size());
    for (const int row : cursor.rows) {
        const RowCells *cells = t.rows.find(row);
        const Cell *cell = cells && column < cells->size() ? cells->constData() + column : nullptr;
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(cell);
#endif
        found.append(cell);
    }
    result.reserve(found.size());
    for (const Cell *cell : found)
        result.append(cell ? cell->value() : QVariant());
    return result;
}

QVector<QVariant> Database::rowValues(int table, int row)
{
    QMutexLocker locker(&tableMutex);
    if (!validTable(table) || row < 1)
        return QVector<QVariant>();
    const RowCells *cells = tables.at(table).rows.find(row);
    return cells ? cells->values() : QVector<QVariant>();
}

int Database::rowCount(int table)
{
    QMutexLocker locker(&tableMutex);
    return validTable(table) ? tables.at(table).rows.size() : 0;
}

bool Database::isEmpty(int table)
{
    QMutexLocker locker(&tableMutex);
    return validTable(table) ? tables.at(table).rows.isEmpty() : true;
}
