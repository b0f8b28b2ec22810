#pragma once

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

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

    // With `bound` values for the statement's "?" marks, in order.
    bool exec(const QString &sql, const QVariantList &bound = {})
    {
        QSqlQuery query(db);
        if (run(query, sql, bound))
            return true;
        lastError = query.lastError().text();
        return false;
    }
    // The rows of a query as text: cells joined by "|", rows by ";", NULL as "NULL".
    QString text(const QString &sql, const QVariantList &bound = {})
    {
        QStringList rows;
        QSqlQuery query(db);
        run(query, sql, bound);
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
    static bool run(QSqlQuery &query, const QString &sql, const QVariantList &bound)
    {
        if (bound.isEmpty())
            return query.exec(sql);
        if (!query.prepare(sql))
            return false;
        for (const QVariant &value : bound)
            query.addBindValue(value);
        return query.exec();
    }

    QString name;
    QSqlDatabase db;
};

// Leaves the database file at `path` with tables that read well but damaged
// for SQLite's check: pages freed by a dropped table, and a count of free
// pages in the file's header that no longer agrees with them.
inline bool damageFreePageCount(const QString &path)
{
    {
        RawDb db(path);
        if (!db.exec(QStringLiteral("CREATE TABLE junk AS WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                                    "FROM c WHERE n < 50) SELECT randomblob(2000) AS y FROM c"))
            || !db.exec(QStringLiteral("DROP TABLE junk")))
            return false;
    }
    QFile file(path);
    char count = 0;
    // The lowest byte of the big-endian count at offset 36.
    return file.open(QIODevice::ReadWrite) && file.seek(39) && file.getChar(&count) && file.seek(39)
           && file.putChar(char(count + 3));
}

