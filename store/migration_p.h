#pragma once

// Bringing "database.db" to the declared schema, and the SQL helpers that
// opening the store shares with it.

#include "database_p.h"

#include <QSqlDatabase>

#include <functional>

namespace store_internal {

// Puts `text` into `error` (when given); false.
bool fail(QString *error, const QString &text);
// Runs one statement; false with the statement and SQLite's reason when it fails.
bool run(const QSqlDatabase &db, const QString &sql, QString *error);

// Whether a table of the file holds rows of the store's tables: SQLite's
// own tables and the file store's ledger do not.
bool isUserTable(const QString &name);
// The tables of the file that isUserTable, in the order SQLite lists them.
bool userTables(const QSqlDatabase &db, QStringList *names, QString *error);

struct Column
{
    QString name;
    QString type; // as declared in the file
};
bool tableColumns(const QSqlDatabase &db, const QString &table, QList<Column> *columns, QString *error);

// Called once before the first table is rebuilt; false stops the migration.
using BeforeRebuild = std::function<bool(QString *error)>;
// Brings the file to the declared schema inside the caller's transaction.
// `changed` is set when a table was dropped or rebuilt, which leaves free
// pages behind.
bool migrate(const QSqlDatabase &db, const BeforeRebuild &beforeRebuild, bool *changed, QString *error);

} // namespace store_internal
