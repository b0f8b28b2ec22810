#pragma once

// Helpers shared by the store's tests.

#include "database.h"
#include "database_p.h"
#include "tempstore.h"

#include <QFile>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

// A connection of the test's own to a database file, for building files by
// hand and for looking at what the store wrote.
class RawDb
{
public:
    explicit RawDb(const QString &path)
        : name(QStringLiteral("rawdb-%1").arg(quintptr(this)))
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~RawDb()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    Q_DISABLE_COPY(RawDb)

    bool exec(const QString &sql)
    {
        QSqlQuery query(db);
        if (query.exec(sql))
            return true;
        lastError = query.lastError().text();
        return false;
    }
    // The rows of a query as text: cells joined by "|", rows by ";", NULL as "NULL".
    QString text(const QString &sql)
    {
        QStringList rows;
        QSqlQuery query(db);
        query.exec(sql);
        while (query.next()) {
            QStringList cells;
            for (int i = 0; i < query.record().count(); ++i)
                cells.append(query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
            rows.append(cells.join(QLatin1Char('|')));
        }
        return rows.join(QLatin1Char(';'));
    }

    QString lastError;

private:
    QString name;
    QSqlDatabase db;
};

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
