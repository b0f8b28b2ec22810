#pragma once

// Helpers shared by the store's life-cycle, flush, file and kill tests.

#include "database.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <algorithm>

// A connection of the test's own to a database file, for building files by
// hand and for looking at what the store wrote.
class RawDb
{
public:
    explicit RawDb(const QString &path, const QString &options = QString())
        : name(QStringLiteral("rawdb-%1").arg(counter().fetchAndAddRelaxed(1)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(options);
        db.open();
    }
    ~RawDb()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    RawDb(const RawDb &) = delete;
    RawDb &operator=(const RawDb &) = delete;

    bool exec(const QString &sql)
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (query.exec(sql))
            return true;
        lastError = query.lastError().text();
        return false;
    }
    bool execAll(const QStringList &statements)
    {
        for (const QString &sql : statements) {
            if (!exec(sql))
                return false;
        }
        return true;
    }
    // Every row of a query, each cell as text ("NULL" for NULL).
    QList<QStringList> rows(const QString &sql)
    {
        QList<QStringList> result;
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (!query.exec(sql)) {
            lastError = query.lastError().text();
            return result;
        }
        while (query.next()) {
            QStringList row;
            for (int i = 0; i < query.record().count(); ++i)
                row.append(query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
            result.append(row);
        }
        return result;
    }
    QString value(const QString &sql)
    {
        const QList<QStringList> all = rows(sql);
        return all.isEmpty() || all.first().isEmpty() ? QString() : all.first().first();
    }
    QStringList tables()
    {
        QStringList names;
        for (const QStringList &row :
             rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")))
            names.append(row.first());
        return names;
    }

    QString lastError;

private:
    static QAtomicInt &counter()
    {
        static QAtomicInt value;
        return value;
    }
    QString name;
};

inline QString cellText(const QVariant &value)
{
    if (isNullValue(value))
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    default:
        return value.toString();
    }
}

// Every table of the open store by name: its rows as texts, sorted, so that
// two stores compare equal when they hold the same rows in any row order.
using StoreDump = QMap<QString, QList<QStringList>>;

inline StoreDump dumpStore()
{
    StoreDump dump;
    for (int table = 0; table < Database::tableCount(); ++table) {
        QList<QStringList> rows;
        RowCursor cursor = Database::allRows(table);
        while (cursor.next()) {
            QStringList cells;
            for (const QVariant &cell : Database::rowValues(cursor))
                cells.append(cellText(cell));
            rows.append(cells);
        }
        std::sort(rows.begin(), rows.end());
        dump.insert(Database::tableName(table), rows);
    }
    return dump;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
