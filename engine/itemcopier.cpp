#include "itemcopier.h"

#include "engine_p.h"
#include "engineglobals_p.h"
#include "watcher.h"

#include "database.h"

#include <QHash>
#include <QMutexLocker>

#include <algorithm>

using namespace engine_internal;

ItemCopier::ItemCopier(const QList<Id> &sources, const QStringList &types)
    : modified(changeTime())
{
    rows.reserve(sources.size());
    QHash<int, QVector<quint8>> kindsByTable;
    StoreLock lock;
    for (const Id source : sources) {
        const Id storedId = toServerId(lock, source);
        QString type = storedItemType(lock, storedId);
        if (!types.isEmpty() && !types.contains(type))
            continue;
        const int table = tableOfType(type);
        const int row = rowOfItem(lock, table, storedId);
        if (row <= 0)
            continue;
        const QStringList names = Database::columnNames(table);
        auto kinds = kindsByTable.find(table);
        if (kinds == kindsByTable.end()) {
            QVector<quint8> kindOf;
            kindOf.reserve(names.size());
            for (const QString &name : names) {
                // The store keeps an item's id, type and owner itself.
                const bool own = name == QLatin1String("id") || name == QLatin1String("type")
                                 || name == QLatin1String("owner");
                kindOf.append(own ? Own : isIdMember(name) || isFileMember(name) ? Resolved : Plain);
            }
            kinds = kindsByTable.insert(table, kindOf);
        }
        rows.append({source, std::move(type), table, names, kinds.value(), Database::rowValues(table, row)});
    }
}

QVariant ItemCopier::member(qsizetype i, const QString &name) const
{
    const Row &row = rows.at(i);
    const QVariant cell = row.cells.value(row.names.indexOf(name));
    if (!isIdMember(name) || isNullValue(cell))
        return cell;
    StoreLock lock;
    return resolveMemberImpl(lock, toServerId(lock, row.source), name, cell, true, false);
}

Id ItemCopier::copy(qsizetype i, const Members &placement) const
{
    const Row &row = rows.at(i);
    const auto placed = [&placement](const QString &name) {
        return std::any_of(placement.cbegin(), placement.cend(), [&name](const auto &m) { return m.first == name; });
    };
    Id id = 0;
    QVariantMap arrived;
    QStringList written;
    {
        StoreLock lock;
        const int table = row.table;
        if (tables.itemsTable < 0)
            return 0;
        const Id storedId = toServerId(lock, row.source);
        NewRow typeRow{table, {}};
        typeRow.cells.reserve(row.cells.size() + placement.size() + 1);
        written.reserve(row.cells.size() + placement.size());
        const qsizetype columns = std::min(row.names.size(), row.cells.size());
        for (qsizetype column = 0; column < columns; ++column) {
            const QString &name = row.names.at(column);
            const QVariant &cell = row.cells.at(column);
            const quint8 kind = row.kinds.value(column, Own);
            if (kind == Own || isNullValue(cell) || placed(name))
                continue;
            if (kind == Plain) {
                typeRow.cells.append({int(column), cell});
                written.append(name);
                continue;
            }
            // As readItem gives it: ids as the program's, and a file whose
            // download is pending as null (and asked for).
            addNewItemCell(lock, &typeRow, &written, int(column), name, resolveMemberImpl(lock, storedId, name, cell, false, true),
                           row.type);
        }
        for (const auto &[name, value] : placement)
            addNewItemCell(lock, &typeRow, &written, columnOf(table, name), name, value, row.type);
        id = writeNewItem(lock, row.type, std::move(typeRow), written, modified, &arrived);
    }
    if (id != 0)
        notifyItemArrived(id, arrived, written);
    return id;
}
