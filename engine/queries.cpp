// Item queries, favourites and an item's file as bytes or picture.

#include "engine_p.h"
#include "engineglobals_p.h"
#include "imagecache.h"

#include "database.h"

#include <QMutexLocker>
#include <QVarLengthArray>

#include <algorithm>

using namespace engine_internal;

namespace {

const QString typeKey = QStringLiteral("type");
const QString idKey = QStringLiteral("id");

// Whether the value index of a column may narrow a search for `value`: the
// index orders by number, then by bytes, which agrees with cell equality for
// integers and texts but not, for example, for 2.5 against "2.5".
bool indexAgreesWithEquality(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::QString:
        return !isNullValue(value);
    default:
        return false;
    }
}

// One filter entry, its id values already mapped to stored ids.
struct Entry
{
    const QString *key; // the filter's own key: no copy to count references of
    QVariant value;
};
using Entries = QVarLengthArray<Entry, 8>;

// Ids of the rows of `table` that satisfy every entry, by the same rule the
// watchers apply. A key that is no column matches no row.
QList<Id> matchingIds(int table, const Entries &entries)
{
    QList<Id> ids;
    if (table < 0)
        return ids;
    const int idColumn = columnOf(table, idKey);
    if (idColumn < 0)
        return ids;

    QVarLengthArray<QPair<int, const QVariant *>, 8> wanted;
    int narrowColumn = -1;
    const QVariant *narrowValue = nullptr;
    for (const Entry &entry : entries) {
        const int column = columnOf(table, *entry.key);
        if (column < 0)
            return ids;
        wanted.append({column, &entry.value});
        // The "id" index gives at most one row; any other index will do.
        if (indexAgreesWithEquality(entry.value) && (narrowColumn < 0 || column == idColumn)
            && hasIndex(table, column)) {
            narrowColumn = column;
            narrowValue = &entry.value;
        }
    }

    RowCursor cursor = narrowColumn >= 0 ? Database::select(table, narrowColumn, *narrowValue)
                                         : Database::allRows(table);
    ids.reserve(cursor.rows.size());
    // The index has applied a lone condition exactly, or there is none: only
    // the ids are needed.
    if ((narrowColumn >= 0 && wanted.size() == 1) || wanted.isEmpty()) {
        for (const QVariant &cell : Database::columnValues(cursor, idColumn)) {
            bool ok = false;
            const Id id = idFromVariant(cell, &ok);
            if (ok && id != 0)
                ids.append(id);
        }
        return ids;
    }
    while (cursor.next()) {
        const QVector<QVariant> cells = Database::rowValues(cursor);
        if (cells.isEmpty())
            continue; // removed meanwhile
        bool all = true;
        for (const auto &condition : std::as_const(wanted)) {
            if (!entryMatches(*condition.second, cells.value(condition.first))) {
                all = false;
                break;
            }
        }
        if (all)
            ids.append(idFromVariant(cells.value(idColumn)));
    }
    return ids;
}

// Ids of the items rows whose type satisfies `wanted`, collecting the types.
QList<Id> itemsOfType(const QVariant &wanted, QSet<QString> *types)
{
    QList<Id> ids;
    RowCursor cursor = indexAgreesWithEquality(wanted)
                           ? Database::select(tables.itemsTable, tables.itemsTypeColumn, wanted)
                           : Database::allRows(tables.itemsTable);
    ids.reserve(cursor.rows.size());
    while (cursor.next()) {
        const QVector<QVariant> cells = Database::rowValues(cursor);
        if (cells.isEmpty() || !entryMatches(wanted, cells.value(tables.itemsTypeColumn)))
            continue;
        ids.append(idFromVariant(cells.value(tables.itemsIdColumn)));
        if (types)
            types->insert(cells.value(tables.itemsTypeColumn).toString());
    }
    return ids;
}

// Hands ids out in the caller's id space, each once.
QList<Id> handOut(const StoreLock &lock, QList<Id> ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (!guarded(lock).serverIdToTempId.isEmpty()) {
        for (Id &id : ids)
            id = toLocalId(lock, id);
    }
    return ids;
}

} // namespace

namespace engine_internal {

bool entryMatches(const QVariant &wanted, const QVariant &member)
{
    if (isNullValue(wanted))
        return !isNullValue(member);
    return cellEquals(member, wanted);
}

QList<Id> findItemsLocked(const StoreLock &lock, const WatchFilter &filter)
{
    // The entries other than "type", with ids (given as numbers or as text)
    // as the stored integers.
    Entries rest;
    const QVariant *type = nullptr;
    // An index, not a pointer: appending may move the entries.
    qsizetype itemId = -1;
    for (auto it = filter.cbegin(); it != filter.cend(); ++it) {
        if (it.key() == typeKey) {
            type = &it.value();
            continue;
        }
        QVariant value = it.value();
        if (isIdMember(it.key()) && !isNullValue(value)) {
            bool ok = false;
            const Id id = idFromVariant(value, &ok);
            if (ok)
                value = QVariant(toServerId(lock, id));
        }
        rest.append({&it.key(), std::move(value)});
        if (it.key() == idKey)
            itemId = rest.size() - 1;
    }

    if (itemId >= 0) {
        // The item's own type decides the table; a "type" entry beside it is
        // not compared.
        bool ok = false;
        const Id id = idFromVariant(rest.at(itemId).value, &ok);
        return handOut(lock, matchingIds(tableOfType(ok ? storedItemType(lock, id) : QString()), rest));
    }
    if (!type)
        return {}; // no table to search

    const int typeMeta = type->metaType().id();
    if ((typeMeta == QMetaType::QString || typeMeta == QMetaType::QByteArray) && !isNullValue(*type)) {
        const QString name = type->toString();
        // One type: its table (none unless synced) is searched through its
        // indexes, or read whole. Its rows are the items of that type: an
        // item's items row and its row there are written and removed
        // together under storeMutex.
        return handOut(lock, matchingIds(tableOfType(name), rest));
    }

    // Any type (a null entry) or a value that names none: by the items rows.
    QSet<QString> types;
    const QList<Id> typed = itemsOfType(*type, &types);
    if (rest.isEmpty())
        return handOut(lock, typed);
    QSet<Id> inTables;
    for (const QString &name : std::as_const(types)) {
        const QList<Id> ids = matchingIds(tableOfType(name), rest);
        inTables.unite(QSet<Id>(ids.cbegin(), ids.cend()));
    }
    QList<Id> result;
    for (const Id id : typed) {
        if (inTables.contains(id))
            result.append(id);
    }
    return handOut(lock, result);
}

} // namespace engine_internal

WatchFilter filterToServerIds(const StoreLock &lock, const WatchFilter &filter)
{
    WatchFilter result = filter;
    for (auto it = result.begin(); it != result.end(); ++it) {
        if (!isIdMember(it.key()) || isNullValue(it.value()))
            continue;
        bool ok = false;
        const Id id = idFromVariant(it.value(), &ok);
        const auto mapped = guarded(lock).tempIdToServerId.constFind(id);
        if (ok && mapped != guarded(lock).tempIdToServerId.cend())
            it.value() = QVariant(mapped.value());
    }
    return result;
}

QList<Id> findItems(const WatchFilter &filter)
{
    StoreLock lock;
    return findItemsLocked(lock, filter);
}

Id findFirstItem(const WatchFilter &filter)
{
    const QList<Id> ids = findItems(filter);
    return ids.isEmpty() ? 0 : ids.first();
}

QVariantMap readFirstItem(const WatchFilter &filter)
{
    const Id id = findFirstItem(filter);
    return id == 0 ? QVariantMap() : readItem(id, false);
}

QVariantList readItems(const WatchFilter &filter)
{
    WatchFilter f;
    int table = -1;
    {
        StoreLock lock;
        f = filterToServerIds(lock, filter);
        table = syncedTableId(f.value(typeKey).toString());
        if (f.contains(idKey))
            table = syncedTableId(storedItemType(lock, idFromVariant(f.value(idKey))));
    }

    QStringList members;
    const QStringList columns = Database::columnNames(table);
    for (const QString &column : columns) {
        if (column == idKey || (f.contains(column) && isNullValue(f.value(column))))
            members.append(column);
    }

    const QList<Id> ids = findItems(f);

    QVariantList result;
    StoreLock lock;
    for (const Id id : ids) {
        const Id storedId = toServerId(lock, id);
        const int row = rowOfItem(lock, table, storedId);
        QVariantMap map;
        for (const QString &member : std::as_const(members)) {
            const QVariant cell = Database::value(table, row, columnOf(table, member));
            map.insert(member, resolveMemberImpl(lock, storedId, member, cell, false, true));
        }
        result.append(map);
    }
    return result;
}

TypeColumns readMembersOfType(const QString &type, const QStringList &members)
{
    StoreLock lock;
    TypeColumns result;
    if (!syncedTables.contains(type))
        return result;
    const int table = tableOfType(type);
    const RowCursor rows = Database::allRows(table);
    const QVector<QVariant> ids = Database::columnValues(rows, columnOf(table, idKey));
    QList<QVector<QVariant>> cells;
    QVarLengthArray<bool, 8> idMembers;
    for (const QString &member : members) {
        const int column = columnOf(table, member);
        cells.append(column < 0 ? QVector<QVariant>(ids.size()) : Database::columnValues(rows, column));
        idMembers.append(isIdMember(member));
        result.columns.append(QVector<QVariant>());
        result.columns.last().reserve(ids.size());
    }
    result.ids.reserve(ids.size());
    for (qsizetype i = 0; i < ids.size(); ++i) {
        bool ok = false;
        const Id stored = idFromVariant(ids.at(i), &ok);
        if (!ok || stored == 0)
            continue;
        result.ids.append(toLocalId(lock, stored));
        for (qsizetype m = 0; m < members.size(); ++m) {
            // Read raw: only ids are mapped, the rest is passed on as stored.
            QVariant &cell = cells[m][i];
            result.columns[m].append(idMembers[m] ? resolveMemberImpl(lock, stored, members.at(m), cell, true, false)
                                                  : std::move(cell));
        }
    }
    return result;
}

QList<Id> childItems(Id id)
{
    QSet<Id> children;
    for (const QString &type : syncedTables) {
        const QList<Id> ids = findItems({{typeKey, type}, {QStringLiteral("parent"), QVariant(id)}});
        children.unite(QSet<Id>(ids.cbegin(), ids.cend()));
    }
    return children.values();
}

void removeItemTree(Id id)
{
    const QList<Id> children = childItems(id);
    for (const Id child : children)
        removeItem(child);
    removeItem(id);
}

bool isFavourite(Id id)
{
    return !findItems({{typeKey, QStringLiteral("favourite")}, {QStringLiteral("item_id"), QVariant(id)}})
                .isEmpty();
}

void setFavourite(Id id, bool on)
{
    const QList<Id> ids =
        findItems({{typeKey, QStringLiteral("favourite")}, {QStringLiteral("item_id"), QVariant(id)}});
    if (!ids.isEmpty() == on)
        return;
    if (!on) {
        for (const Id favourite : ids)
            removeItem(favourite);
        return;
    }
    const Id favourite = createItem(QStringLiteral("favourite"));
    setMember(favourite, QStringLiteral("item_id"), QVariant(id));
}

QPixmap itemPixmap(Id id, const QString &member)
{
    const QString name = getMember(id, member).toString();
    if (name.isEmpty())
        return QPixmap();
    const QPixmap pixmap = cachedPixmap(name);
    if (pixmap.isNull())
        loadImageAsync(name);
    return pixmap;
}

QByteArray itemFileData(Id id, const QString &member)
{
    const QString name = getMember(id, member).toString();
    if (name.isEmpty())
        return QByteArray();
    return Database::fileData(name);
}

WatchFilter &withMember(WatchFilter &filter, const QString &member, const QVariant &value)
{
    filter.insert(member, value);
    return filter;
}

WatchFilter &withMembers(WatchFilter &filter, const QString &members)
{
    const QStringList names = members.split(QLatin1Char(','));
    for (const QString &name : names)
        filter.insert(name.trimmed(), QVariant());
    return filter;
}
