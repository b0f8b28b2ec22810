// Items, members and ids: the item model over the in-memory tables.

#include "downloads.h"

#include "enginelog.h"
#include "engine_p.h"
#include "engineglobals_p.h"
#include "watcher.h"

#include "database.h"
#include "syncservice.h"

#include <QDateTime>
#include <QHash>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QThreadPool>

#include <cmath>
#include <limits>

using namespace engine_internal;

namespace {

const QString idName = QStringLiteral("id");
const QString downloadingPlaceholder = QStringLiteral("%downloading%");

// Exact integer of a double, or false.
bool integralDouble(double d, Id *out)
{
    // 2^63 itself is out of range; every double below it converts exactly.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(d) || d != std::trunc(d) || d < -limit || d >= limit)
        return false;
    *out = Id(d);
    return true;
}

} // namespace

Id idFromVariant(const QVariant &value, bool *ok)
{
    // The stored form first: the only one lookups read by the thousand.
    if (value.metaType() == QMetaType::fromType<qlonglong>() && !value.isNull()) {
        if (ok)
            *ok = true;
        return *static_cast<const qlonglong *>(value.constData());
    }
    bool good = true;
    Id result = 0;
    if (!isNullValue(value)) {
        switch (value.metaType().id()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::SChar:
        case QMetaType::UChar:
            result = value.toLongLong();
            break;
        case QMetaType::ULongLong:
        case QMetaType::ULong: {
            const qulonglong u = value.toULongLong();
            good = u <= qulonglong(std::numeric_limits<Id>::max());
            result = good ? Id(u) : 0;
            break;
        }
        case QMetaType::Double:
        case QMetaType::Float:
            good = integralDouble(value.toDouble(), &result);
            break;
        case QMetaType::QString:
        case QMetaType::QByteArray: {
            const QString text = value.toString().trimmed();
            result = text.toLongLong(&good);
            if (!good) {
                const double d = text.toDouble(&good);
                good = good && integralDouble(d, &result);
            }
            break;
        }
        default:
            good = false;
            break;
        }
    }
    if (!good)
        result = 0;
    if (ok)
        *ok = good;
    return result;
}

bool isParentMember(const QString &member)
{
    return member == QLatin1String("parent");
}

bool isIdMember(const QString &member)
{
    return member == idName || member.endsWith(QLatin1String("_id")) || isParentMember(member);
}

bool isFileMember(const QString &member)
{
    return Database::isFileColumn(member);
}

bool isHandleMember(const QString &member)
{
    return member == QLatin1String("handle") || member.endsWith(QLatin1String("_handle"));
}

Id toServerId(const StoreLock &lock, Id id)
{
    return guarded(lock).tempIdToServerId.value(id, id);
}

Id toLocalId(const StoreLock &lock, Id id)
{
    return guarded(lock).serverIdToTempId.value(id, id);
}

namespace engine_internal {

namespace {

// Guards the caches below; taken alone, never while calling the store.
QMutex tableCacheMutex;
QHash<QString, int> syncedTableNumbers;
// By table, then name: a lookup copies no name.
QHash<int, QHash<QString, int>> columnNumbers;
QHash<QPair<int, int>, bool> indexedColumns;

// A member a new item is announced with: a column of its type's table or
// of "items", and whether its stored value must be resolved (ids, files).
struct ArrivalMember
{
    QString name;
    bool inItemsRow;
    int column;
    bool resolve;
};
// By type table: its members and those of "items", in name order, "items"
// winning a name both have.
struct ArrivalMembers
{
    QVector<ArrivalMember> members;
    int typeColumns = 0;
    int itemColumns = 0;
};
QHash<int, ArrivalMembers> arrivalMembers;

} // namespace

int columnOf(int table, const QString &name)
{
    if (table < 0)
        return -1;
    {
        QMutexLocker lock(&tableCacheMutex);
        const auto names = columnNumbers.constFind(table);
        if (names != columnNumbers.cend()) {
            const auto found = names->constFind(name);
            if (found != names->cend())
                return found.value();
        }
    }
    const int column = Database::columnId(table, name);
    QMutexLocker lock(&tableCacheMutex);
    columnNumbers[table].insert(name, column);
    return column;
}

bool hasIndex(int table, int column)
{
    if (table < 0 || column < 0)
        return false;
    const QPair<int, int> key(table, column);
    {
        QMutexLocker lock(&tableCacheMutex);
        const auto found = indexedColumns.constFind(key);
        if (found != indexedColumns.cend())
            return found.value();
    }
    const bool indexed = Database::hasColumnIndex(table, column);
    QMutexLocker lock(&tableCacheMutex);
    indexedColumns.insert(key, indexed);
    return indexed;
}

namespace {

ArrivalMembers arrivalMembersOf(int table)
{
    {
        QMutexLocker lock(&tableCacheMutex);
        const auto found = arrivalMembers.constFind(table);
        if (found != arrivalMembers.cend())
            return found.value();
    }
    ArrivalMembers layout;
    QMap<QString, ArrivalMember> byName;
    const auto add = [&](int from, bool inItemsRow) {
        const QStringList names = Database::columnNames(from);
        for (int column = 0; column < names.size(); ++column) {
            const QString &name = names.at(column);
            byName.insert(name, {name, inItemsRow, column, isIdMember(name) || isFileMember(name)});
        }
        return int(names.size());
    };
    layout.typeColumns = add(table, false);
    layout.itemColumns = add(tables.itemsTable, true);
    layout.members = byName.values().toVector();
    QMutexLocker lock(&tableCacheMutex);
    arrivalMembers.insert(table, layout);
    return layout;
}

} // namespace

void forgetTableNumbers()
{
    QMutexLocker lock(&tableCacheMutex);
    syncedTableNumbers.clear();
    columnNumbers.clear();
    indexedColumns.clear();
    arrivalMembers.clear();
}

QString storedItemType(const StoreLock &, Id storedId)
{
    return Database::lookupValue(tables.itemsTable, tables.itemsIdColumn, QVariant(storedId), tables.itemsTypeColumn)
        .toString();
}

int tableOfType(const QString &type)
{
    return syncedTableId(type);
}

int rowOfItem(const StoreLock &, int table, Id storedId)
{
    if (table < 0)
        return 0;
    return Database::findRow(table, columnOf(table, idName), QVariant(storedId));
}

QVariant resolveMemberImpl(const StoreLock &lock, Id id, const QString &member, const QVariant &stored, bool raw,
                           bool emitDownloads)
{
    if (isIdMember(member)) {
        bool ok = false;
        const Id value = idFromVariant(stored, &ok);
        return QVariant(Id(ok ? toLocalId(lock, value) : 0));
    }
    if (isFileMember(member) && !raw) {
        const Conditions where{{tables.downloadsMemberColumn, member},
                               {tables.downloadsIdColumn, QVariant(toServerId(lock, id))}};
        const QVariant url = tables.downloadsTable < 0
                                 ? QVariant()
                                 : Database::valueWhere(tables.downloadsTable, where, tables.downloadsUrlColumn);
        if (isNullValue(url) && !cellEquals(stored, downloadingPlaceholder))
            return stored;
        const QString address = url.toString();
        if (emitDownloads && !address.isEmpty()) {
            if (SyncService *sync = syncService())
                sync->requestDownload(address);
        }
        return QVariant();
    }
    return stored;
}

QVariantMap readItemLocked(const StoreLock &lock, Id storedId, bool raw, bool emitDownloads)
{
    QVariantMap result;
    const int itemsRow = rowOfItem(lock, tables.itemsTable, storedId);
    if (itemsRow <= 0)
        return result;
    const QString type = Database::value(tables.itemsTable, itemsRow, tables.itemsTypeColumn).toString();
    const int table = tableOfType(type);
    if (table >= 0) {
        const QStringList names = Database::columnNames(table);
        const QVector<QVariant> cells = Database::rowValues(table, rowOfItem(lock, table, storedId));
        for (int i = 0; i < names.size(); ++i)
            result.insert(names.at(i),
                          resolveMemberImpl(lock, storedId, names.at(i), cells.value(i), raw, emitDownloads));
    }
    const QStringList itemNames = Database::columnNames(tables.itemsTable);
    const QVector<QVariant> itemCells = Database::rowValues(tables.itemsTable, itemsRow);
    for (int i = 0; i < itemNames.size(); ++i)
        result.insert(itemNames.at(i),
                      resolveMemberImpl(lock, storedId, itemNames.at(i), itemCells.value(i), raw, emitDownloads));
    return result;
}

QVariantMap readMembersLocked(const StoreLock &lock, Id storedId, const QSet<QString> &names)
{
    QVariantMap result;
    const int itemsRow = rowOfItem(lock, tables.itemsTable, storedId);
    if (itemsRow <= 0)
        return result;
    const auto take = [&](int table, int row) {
        const QStringList columns = Database::columnNames(table);
        for (int i = 0; i < columns.size(); ++i) {
            const QString &name = columns.at(i);
            if (names.contains(name))
                result.insert(name, resolveMemberImpl(lock, storedId, name, Database::value(table, row, i), false, false));
        }
    };
    const int table = tableOfType(Database::value(tables.itemsTable, itemsRow, tables.itemsTypeColumn).toString());
    if (table >= 0)
        take(table, rowOfItem(lock, table, storedId));
    take(tables.itemsTable, itemsRow);
    return result;
}

} // namespace engine_internal

QVariant resolveMember(const StoreLock &lock, Id id, const QString &member, const QVariant &stored, bool raw)
{
    return resolveMemberImpl(lock, id, member, stored, raw, true);
}

QString itemType(Id id)
{
    StoreLock lock;
    return storedItemType(lock, toServerId(lock, id));
}

qint64 itemOwner(Id id)
{
    qint64 owner = 0;
    {
        StoreLock lock;
        owner = Database::lookupValue(
            tables.itemsTable, tables.itemsIdColumn, QVariant(toServerId(lock, id)), tables.itemsOwnerColumn)
                    .toLongLong();
    }
    return owner == 0 ? userId() : owner;
}

bool isItemOfType(Id id, const QString &type)
{
    StoreLock lock;
    return storedItemType(lock, toServerId(lock, id)) == type;
}

int syncedTableId(const QString &name)
{
    {
        QMutexLocker lock(&tableCacheMutex);
        const auto found = syncedTableNumbers.constFind(name);
        if (found != syncedTableNumbers.cend())
            return found.value();
    }
    if (!syncedTables.contains(name))
        return -1;
    const int table = Database::tableId(name);
    QMutexLocker lock(&tableCacheMutex);
    syncedTableNumbers.insert(name, table);
    return table;
}

int syncedTableOfItem(Id id)
{
    return syncedTableId(itemType(id));
}

namespace {

// Takes the next local id from the store's counter; 0 when there is none.
Id takeLocalId(const StoreLock &lock, const QString &type)
{
    const QString name = QStringLiteral("itemAutodecrement");
    int &counterRow = guarded(lock).itemCounterRow;
    bool ok = false;
    const QVariant counter = counterOption(name, &counterRow);
    Id last = idFromVariant(counter, &ok);
    if (!ok) {
        qCWarning(lcEngine).noquote() << "createItem: the local id counter holds" << counter.toString()
                                      << "; counting on from 0";
        last = 0;
    }
    if (last == std::numeric_limits<Id>::min()) {
        qCWarning(lcEngine).noquote() << "createItem: the local id counter is used up; no" << type << "created";
        return 0;
    }
    // Local ids stay negative whatever the counter was left at.
    const Id id = qMin<Id>(last, 0) - 1;
    setCounterOption(name, QVariant(id), &counterRow);
    return id;
}

// An item's row in "items", as a new item has it.
NewRow itemsRow(Id id, const QString &type)
{
    return {tables.itemsTable,
            {{tables.itemsIdColumn, QVariant(id)},
             {tables.itemsTypeColumn, QVariant(type)},
             {tables.itemsOwnerColumn, QVariant(qint64(0))}}};
}

// The create record of a new item, with its token.
NewRow createRecord(Id id)
{
    return {tables.uncommittedCreateTable,
            {{tables.uncommittedCreateIdColumn, QVariant(id)},
             {tables.uncommittedCreateTokenColumn, QVariant(newCreateToken())}}};
}

} // namespace

// In UTC, as the store holds date-times: no time zone to look up (the C
// library checks its file on every local reading).
QDateTime engine_internal::changeTime()
{
    return QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch(), Qt::UTC);
}

QString newCreateToken()
{
    quint32 words[4];
    QRandomGenerator::global()->fillRange(words);
    return QString::fromLatin1(QByteArray::fromRawData(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

Id createItem(const QString &type)
{
    if (!syncedTables.contains(type))
        return 0;
    Id id = 0;
    {
        StoreLock lock;
        const int table = Database::tableId(type);
        if (table < 0 || tables.itemsTable < 0)
            return 0;
        id = takeLocalId(lock, type);
        if (id == 0)
            return 0;

        // All three rows in one step: a flush never writes an item half made.
        const NewRow rows[] = {itemsRow(id, type),
                               {table, {{columnOf(table, idName), QVariant(id)}}},
                               createRecord(id)};
        Database::insertRows(rows);
    }
    notifyItemCreated(id, type);
    return id;
}

Id createItemWithMembers(const QString &type, const QVariantMap &members)
{
    if (!syncedTables.contains(type))
        return 0;
    Id id = 0;
    QVariantMap arrived;
    QStringList written; // the members set in the new row
    {
        StoreLock lock;
        const int table = Database::tableId(type);
        if (table < 0 || tables.itemsTable < 0)
            return 0;
        // The cells setMember would write, one by one, on the empty row.
        NewRow typeRow{table, {}};
        typeRow.cells.reserve(members.size() + 1);
        written.reserve(members.size());
        for (auto it = members.cbegin(); it != members.cend(); ++it)
            addNewItemCell(lock, &typeRow, &written, columnOf(table, it.key()), it.key(), it.value(), type);
        id = writeNewItem(lock, type, std::move(typeRow), written, QVariant(changeTime()), &arrived);
    }
    if (id != 0)
        notifyItemArrived(id, arrived, written);
    return id;
}

namespace engine_internal {

bool addNewItemCell(const StoreLock &lock, NewRow *row, QStringList *written, int column, const QString &member, const QVariant &value,
                    const QString &type)
{
    if (column < 0 || member == idName)
        return false;
    QVariant toStore = value;
    if (isIdMember(member)) {
        bool ok = false;
        const Id given = idFromVariant(toStore, &ok);
        if (!ok) {
            qCWarning(lcEngine).noquote() << "createItemWithMembers: refusing" << member << "=" << toStore.toString()
                                          << "for a new" << type << ": not an id";
            return false;
        }
        toStore = QVariant(toServerId(lock, given));
    }
    if (cellEquals(QVariant(), toStore))
        return false;
    // As the row will hold it: watchers hear what a restart would read.
    row->cells.append({column, Database::storedValue(row->table, column, toStore)});
    written->append(member);
    return true;
}

Id writeNewItem(const StoreLock &lock, const QString &type, NewRow typeRow, const QStringList &written, const QVariant &modified,
                QVariantMap *arrived)
{
    const Id id = takeLocalId(lock, type);
    if (id == 0)
        return 0;
    typeRow.cells.append({columnOf(typeRow.table, idName), QVariant(id)});
    QVarLengthArray<NewRow, 16> rows;
    rows.reserve(3 + written.size());
    rows.append(itemsRow(id, type));
    rows.append(std::move(typeRow));
    rows.append(createRecord(id));
    for (const QString &member : written) {
        rows.append({tables.uncommittedSetTable,
                     {{tables.uncommittedSetIdColumn, QVariant(id)},
                      {tables.uncommittedSetMemberColumn, QVariant(member)},
                      {tables.uncommittedSetModifiedColumn, modified}}});
    }
    // Every row in one step: a flush never writes the item half made.
    if (!Database::insertRows(rows))
        return 0;
    for (const QString &member : written) {
        if (isFileMember(member))
            dropPendingDownloads(lock, id, member);
    }

    // What watchers match against: the item as readItem gives it, built in
    // name order so that each member goes in at the end.
    // A member never set reads as the NULL its cell holds.
    static const QVariant unset(QMetaType::fromType<QString>());
    const auto cellsOf = [](const NewRow &row, qsizetype count) {
        QVarLengthArray<const QVariant *, 32> values(count, &unset);
        for (const auto &[column, value] : row.cells) {
            if (column >= 0 && column < count)
                values[column] = &value;
        }
        return values;
    };
    const ArrivalMembers layout = arrivalMembersOf(rows.at(1).table);
    const auto typeCells = cellsOf(rows.at(1), layout.typeColumns);
    const auto itemCells = cellsOf(rows.at(0), layout.itemColumns);
    for (const ArrivalMember &member : layout.members) {
        const auto &cells = member.inItemsRow ? itemCells : typeCells;
        const QVariant &value = member.column < cells.size() ? *cells.at(member.column) : unset;
        arrived->insert(arrived->cend(), member.name,
                        member.resolve ? resolveMemberImpl(lock, id, member.name, value, false, false) : value);
    }
    return id;
}

} // namespace engine_internal

QVariant getMember(Id id, const QString &member)
{
    StoreLock lock;
    if (member == QLatin1String("type"))
        return QVariant(storedItemType(lock, toServerId(lock, id)));
    if (member == QLatin1String("owner")) {
        const qint64 owner = Database::lookupValue(tables.itemsTable, tables.itemsIdColumn, QVariant(toServerId(lock, id)),
                                                   tables.itemsOwnerColumn)
                                 .toLongLong();
        return QVariant(qint64(owner == 0 ? userId() : owner));
    }
    const Id storedId = toServerId(lock, id);
    const int table = tableOfType(storedItemType(lock, storedId));
    QVariant cell;
    const int column = columnOf(table, member);
    if (column >= 0)
        cell = Database::value(table, rowOfItem(lock, table, storedId), column);
    return resolveMemberImpl(lock, storedId, member, cell, false, true);
}

QVariantMap readItem(Id id, bool raw)
{
    StoreLock lock;
    return readItemLocked(lock, toServerId(lock, id), raw, true);
}

bool engine_internal::readItemCells(Id id, const QStringList &members, QStringList *names, QVector<QVariant> *cells)
{
    StoreLock lock;
    const Id storedId = toServerId(lock, id);
    const int table = tableOfType(storedItemType(lock, storedId));
    const int row = rowOfItem(lock, table, storedId);
    if (row <= 0)
        return false;
    *cells = Database::rowValues(table, row);
    for (const QString &member : members) {
        const int column = columnOf(table, member);
        if (column < 0 || isNullValue(cells->value(column)))
            return false;
    }
    *names = Database::columnNames(table);
    for (qsizetype column = 0; column < names->size(); ++column) {
        if (isIdMember(names->at(column)) && column < cells->size())
            (*cells)[column] = resolveMemberImpl(lock, storedId, names->at(column), cells->at(column), true, false);
    }
    return true;
}

void markMemberModified(const StoreLock &lock, Id id, const QString &member)
{
    int row = 0;
    RowCursor cursor = Database::select(tables.uncommittedSetTable, tables.uncommittedSetIdColumn, QVariant(id));
    while (cursor.next()) {
        if (cellEquals(Database::value(cursor, tables.uncommittedSetMemberColumn), member)) {
            row = cursor.row;
            break;
        }
    }
    if (row <= 0)
        row = Database::newRow(tables.uncommittedSetTable);
    if (row <= 0)
        return;
    Database::setValue(tables.uncommittedSetTable, row, tables.uncommittedSetIdColumn, QVariant(id));
    Database::setValue(tables.uncommittedSetTable, row, tables.uncommittedSetMemberColumn, QVariant(member));
    Database::setValue(tables.uncommittedSetTable, row, tables.uncommittedSetModifiedColumn,
                       QVariant(changeTime()));
    guarded(lock).sentRows.remove(TableRow(tables.uncommittedSetTable, row));
}

void setMember(Id id, const QString &member, const QVariant &value)
{
    if (member == idName)
        return;

    QVariant toStore = value;
    Id storedId = 0;
    {
        StoreLock lock;
        if (isIdMember(member)) {
            bool ok = false;
            const Id given = idFromVariant(value, &ok);
            if (!ok) {
                qCWarning(lcEngine).noquote() << "setMember: refusing" << member << "=" << value.toString() << "for item"
                                              << id << ": not an id";
                return;
            }
            toStore = QVariant(toServerId(lock, given));
        }
        storedId = toServerId(lock, id);
        if (storedItemType(lock, storedId).isEmpty())
            return;
    }

    // readItem takes the lock itself; the lock is not recursive.
    const QVariantMap before = readItem(storedId, false);

    bool changed = false;
    {
        StoreLock lock;
        const int table = tableOfType(storedItemType(lock, storedId));
        const int row = rowOfItem(lock, table, storedId);
        const int column = columnOf(table, member);
        if (row > 0 && column >= 0)
            changed = Database::setValue(table, row, column, toStore);
        if (changed) {
            // Watchers hear what the store holds, as they would after a restart.
            toStore = Database::value(table, row, column);
            markMemberModified(lock, storedId, member);
        }
        if (isFileMember(member)) {
            dropPendingDownloads(lock, storedId, member);
            removeFileIfUnreferenced(lock, before.value(member).toString());
        }
    }
    if (changed)
        notifyMemberChanged(storedId, before, member, toStore);
}

void setMemberFile(Id id, const QString &member, const QByteArray &bytes)
{
    // No stored file for an item that is not there: it would never be freed.
    if (itemType(id).isEmpty())
        return;
    const QString name = Database::storeNewFile(bytes);
    if (name.isEmpty()) {
        qCWarning(lcEngine).noquote() << "setMemberFile: the file store refused the bytes for" << member << "of item"
                                      << id;
        return;
    }
    setMember(id, member, QVariant(name));
}

void removeFileIfUnreferenced(const StoreLock &, const QString &name)
{
    if (name.isEmpty())
        return;
    for (const QString &type : syncedTables) {
        const int table = Database::tableId(type);
        const QStringList columns = Database::columnNames(table);
        for (int column = 0; column < columns.size(); ++column) {
            if (isFileMember(columns.at(column)) && Database::findRow(table, column, QVariant(name)) > 0)
                return;
        }
    }
    Database::removeFile(name);
}

namespace engine_internal {

void removeRowsWithId(const StoreLock &, int table, int idColumn, Id id)
{
    RowCursor cursor = Database::select(table, idColumn, QVariant(id));
    while (cursor.next())
        Database::removeRow(cursor);
}

void removeStoredItemRows(const StoreLock &lock, Id storedId, const QString &type)
{
    removeRowsWithId(lock, tables.itemsTable, tables.itemsIdColumn, storedId);
    const int table = tableOfType(type);
    const QStringList columns = Database::columnNames(table);
    QSet<QString> files;
    RowCursor cursor = Database::select(table, columnOf(table, idName), QVariant(storedId));
    while (cursor.next()) {
        for (int column = 0; column < columns.size(); ++column) {
            if (isFileMember(columns.at(column)))
                files.insert(Database::value(cursor, column).toString());
        }
        Database::removeRow(cursor);
    }
    for (const QString &column : columns) {
        if (isFileMember(column))
            dropPendingDownloads(lock, storedId, column);
    }
    files.remove(downloadingPlaceholder);
    for (const QString &file : std::as_const(files))
        removeFileIfUnreferenced(lock, file);
}

} // namespace engine_internal

void removeItem(Id id)
{
    Id storedId = 0;
    {
        StoreLock lock;
        storedId = toServerId(lock, id);
        if (storedItemType(lock, storedId).isEmpty())
            return;
        removeRowsWithId(lock, tables.uncommittedSetTable, tables.uncommittedSetIdColumn, storedId);
        removeRowsWithId(lock, tables.uncommittedCreateTable, tables.uncommittedCreateIdColumn, storedId);
        Database::insertUnique(
            tables.uncommittedRemoveTable, Conditions {{tables.uncommittedRemoveIdColumn, QVariant(storedId)}});
    }

    const QVariantMap before = readItem(storedId, false);

    {
        StoreLock lock;
        const QString type = storedItemType(lock, storedId);
        // Another thread removed it meanwhile, and told the watchers.
        if (type.isEmpty())
            return;
        removeStoredItemRows(lock, storedId, type);
    }
    notifyItemRemoved(storedId, before);
}

bool resetStoreAndNotify(QString *error)
{
    // A thumbnail or image job still running would write into the new,
    // empty store, where its local ids may already name other items.
    QThreadPool::globalInstance()->waitForDone();
    QList<QPair<Id, QVariantMap>> known;
    {
        StoreLock lock;
        RowCursor cursor = Database::allRows(tables.itemsTable);
        while (cursor.next()) {
            const Id storedId = idFromVariant(Database::value(cursor, tables.itemsIdColumn));
            known.append({toLocalId(lock, storedId), readItemLocked(lock, storedId, false, false)});
        }
        // No row carries a translated id any more; a new local id must not be
        // taken for an old one.
        guarded(lock).tempIdToServerId.clear();
        guarded(lock).serverIdToTempId.clear();
    }
    if (!Database::reset(error))
        return false;
    bindTables();
    for (const auto &item : std::as_const(known))
        notifyItemRemoved(item.first, item.second);
    return true;
}
