#pragma once

// Reading the tables of the file into memory when the store opens.

#include "migration_p.h"

#include <QSqlDatabase>

struct sqlite3;

namespace store_internal {

// The connection's SQLite handle; nullptr for another driver.
sqlite3 *sqliteHandle(const QSqlDatabase &db);
// Reads one table whole on `db`, rows numbered from 1 in file order.
bool loadTable(const QSqlDatabase &db, const QString &name, Table *table, QString *error);
// Reads the tables `names` side by side, as loadTable would one by one; only
// for a file that `db`'s open transaction has not changed.
bool loadTablesSideBySide(const QSqlDatabase &db, const QString &path, const QStringList &names,
                          QVector<Table> *loaded, QString *error);

} // namespace store_internal
