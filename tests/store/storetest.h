#pragma once

// Helpers shared by the store's tests.

#include "database.h"
#include "database_p.h"
#include "rawdb.h"
#include "tempstore.h"

#include <QFile>
#include <QMap>
#include <QTest>

inline QString databaseFile(const QString &folder)
{
    return folder + QStringLiteral("/database.db");
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every table of the open store by name, its rows as sorted texts (cells
// joined by "|"), so that two stores compare equal when they hold the same
// rows in any row order. Doubles and date-times convert to text exactly.
inline QMap<QString, QStringList> dumpStore()
{
    QMap<QString, QStringList> dump;
    for (int table = 0; table < Database::tableCount(); ++table) {
        QStringList &rows = dump[Database::tableName(table)];
        RowCursor cursor = Database::allRows(table);
        while (cursor.next()) {
            QStringList cells;
            for (const QVariant &cell : Database::rowValues(cursor))
                cells.append(isNullValue(cell) ? QStringLiteral("NULL") : cell.toString());
            rows.append(cells.join(QLatin1Char('|')));
        }
        rows.sort();
    }
    return dump;
}

// Every row of the column's index in index order.
inline QList<int> indexOrder(int table, int column)
{
    QMutexLocker locker(&store_internal::tableMutex);
    QList<int> rows;
    // Built here if it waits for its first use.
    if (const ValueIndex *index = store_internal::tables.at(table).index(column)) {
        for (const ValueIndex::Entry &entry : *index)
            rows.append(entry.row);
    }
    return rows;
}
