// The ledger of the files the store has written: its table in "database.db",
// what the migration records in it, and its use by the writer thread.

#include "fileledger_p.h"

#include "migration_p.h"
#include "storelog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>

namespace store_internal {

namespace {

QString ledgerDefinition()
{
    return QStringLiteral("CREATE TABLE `store_files` (`name` TEXT NOT NULL PRIMARY KEY, `recorded` INTEGER) "
                          "WITHOUT ROWID");
}

// `names` as one JSON array, which a statement takes apart with json_each:
// any number of names in one bound value.
QString jsonList(const QStringList &names)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names)).toJson(QJsonDocument::Compact));
}

// The file columns (Database::isFileColumn) of every table of the file that
// isUserTable: table -> its file columns.
bool fileColumnsInFile(const QSqlDatabase &db, QMap<QString, QStringList> *columns, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT m.name, p.name FROM sqlite_master AS m, pragma_table_info(m.name) AS p "
                                   "WHERE m.type = 'table'")))
        return fail(error, QStringLiteral("cannot list the file columns: %1").arg(sqlReason(query.lastError())));
    while (query.next()) {
        const QString table = query.value(0).toString();
        const QString column = query.value(1).toString();
        if (Database::isFileColumn(column) && isUserTable(table))
            (*columns)[table].append(column);
    }
    return !query.lastError().isValid()
           || fail(error, QStringLiteral("cannot list the file columns: %1").arg(sqlReason(query.lastError())));
}

// Records the files in `filesFolder` that rows of the file name: an older
// store's own files.
bool recordNamedFiles(const QSqlDatabase &db, const QString &filesFolder, QString *error)
{
    QMap<QString, QStringList> columns;
    if (!fileColumnsInFile(db, &columns, error))
        return false;
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT OR IGNORE INTO `store_files` (`name`, `recorded`) VALUES (?, 0)")))
        return fail(error, QStringLiteral("cannot record the stored files: %1").arg(sqlReason(insert.lastError())));
    qsizetype recorded = 0;
    for (auto it = columns.cbegin(); it != columns.cend(); ++it) {
        for (const QString &column : it.value()) {
            QSqlQuery names(db);
            names.setForwardOnly(true);
            if (!names.exec(QStringLiteral("SELECT DISTINCT %1 FROM %2 WHERE %1 <> ''")
                                .arg(quoteIdentifier(column), quoteIdentifier(it.key()))))
                return fail(error, QStringLiteral("cannot read the files of %1: %2")
                                       .arg(it.key(), sqlReason(names.lastError())));
            while (names.next()) {
                const QString name = names.value(0).toString();
                if (!Database::isValidFileName(name))
                    continue;
                const QFileInfo info(filesFolder + QLatin1Char('/') + name);
                if (!info.isFile() || info.isSymLink())
                    continue;
                insert.addBindValue(name);
                if (!insert.exec())
                    return fail(error,
                                QStringLiteral("cannot record the stored files: %1").arg(sqlReason(insert.lastError())));
                ++recorded;
            }
        }
    }
    if (recorded > 0)
        qCInfo(lcStore) << "Database: recorded" << recorded << "file(s) that rows of the store name as its own";
    return true;
}

} // namespace

QString fileLedgerName()
{
    return QStringLiteral("store_files");
}

bool ensureFileLedger(const QSqlDatabase &db, const QString &filesFolder, QString *error)
{
    QString existing;
    QString definition;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"));
        query.addBindValue(fileLedgerName());
        if (!query.exec())
            return fail(error, QStringLiteral("cannot look for the file ledger: %1").arg(sqlReason(query.lastError())));
        if (query.next()) {
            existing = query.value(0).toString();
            definition = query.value(1).toString();
        }
    }
    if (existing == fileLedgerName() && definition == ledgerDefinition())
        return true;
    // A table of that name that the store did not make lists nothing it can trust.
    if (!existing.isEmpty() && !run(db, QStringLiteral("DROP TABLE %1").arg(quoteIdentifier(existing)), error))
        return false;
    return run(db, ledgerDefinition(), error) && recordNamedFiles(db, filesFolder, error);
}

bool visitRecordedNames(const QSqlDatabase &db, const std::function<void(const QString &)> &visit)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT `name` FROM `store_files`")))
        return false;
    while (query.next())
        visit(query.value(0).toString());
    return !query.lastError().isValid();
}

FileLedger::FileLedger(const QString &connectionName)
    : connectionName(connectionName)
    , writerStart(QDateTime::currentMSecsSinceEpoch())
{
}

QSqlDatabase FileLedger::db() const
{
    return QSqlDatabase::database(connectionName, false);
}

bool FileLedger::commit(const QStringList &names, QString *error)
{
    if (names.isEmpty() && forgotten.isEmpty())
        return true;
    QSqlDatabase connection = db();
    if (!connection.transaction())
        return fail(error,
                    QStringLiteral("cannot record the files to write: %1").arg(sqlReason(connection.lastError())));
    QString why;
    // One statement per name: writing files never depends on more than
    // plain SQL. Forgotten first: a name freed and then made again stays.
    const auto each = [&](const QString &sql, const QStringList &list, const QVariant &recorded) {
        QSqlQuery query(connection);
        if (!query.prepare(sql)) {
            why = sqlReason(query.lastError());
            return false;
        }
        for (const QString &name : list) {
            query.bindValue(0, name);
            if (recorded.isValid())
                query.bindValue(1, recorded);
            if (!query.exec()) {
                why = sqlReason(query.lastError());
                return false;
            }
        }
        return true;
    };
    const bool ok
        = each(QStringLiteral("DELETE FROM `store_files` WHERE `name` = ?"), forgotten.values(), QVariant())
          && each(QStringLiteral("INSERT OR REPLACE INTO `store_files` (`name`, `recorded`) VALUES (?, ?)"), names,
                   QDateTime::currentMSecsSinceEpoch());
    if (ok && connection.commit()) {
        forgotten.clear();
        return true;
    }
    if (ok)
        why = sqlReason(connection.lastError());
    connection.rollback();
    return fail(error, QStringLiteral("cannot record the files to write: %1").arg(why));
}

bool FileLedger::recordedAmong(const QStringList &names, QSet<QString> *recorded) const
{
    if (names.isEmpty())
        return true;
    QSqlQuery query(db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT `name` FROM `store_files` WHERE `name` IN (SELECT value FROM json_each(?))"));
    query.addBindValue(jsonList(names));
    if (!query.exec())
        return false;
    while (query.next())
        recorded->insert(query.value(0).toString());
    return !query.lastError().isValid();
}

bool FileLedger::namedInFile(const QStringList &names, QSet<QString> *named) const
{
    if (names.isEmpty())
        return true;
    const QSqlDatabase connection = db();
    QMap<QString, QStringList> columns;
    if (!fileColumnsInFile(connection, &columns, nullptr))
        return false;
    const QSet<QString> wanted(names.cbegin(), names.cend());
    const QString list = jsonList(names);
    // One pass over each table, whatever the number of its file columns.
    for (auto it = columns.cbegin(); it != columns.cend(); ++it) {
        QStringList selected;
        QStringList conditions;
        for (const QString &column : it.value()) {
            selected.append(quoteIdentifier(column));
            conditions.append(quoteIdentifier(column) + QStringLiteral(" IN (SELECT value FROM wanted)"));
        }
        QSqlQuery query(connection);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("WITH wanted(value) AS (SELECT value FROM json_each(?)) SELECT %1 FROM %2 WHERE %3")
                          .arg(selected.join(QStringLiteral(", ")), quoteIdentifier(it.key()),
                               conditions.join(QStringLiteral(" OR "))));
        query.addBindValue(list);
        if (!query.exec())
            return false;
        while (query.next()) {
            for (int i = 0; i < selected.size(); ++i) {
                const QString name = query.value(i).toString();
                if (wanted.contains(name))
                    named->insert(name);
            }
        }
        if (query.lastError().isValid())
            return false;
    }
    return true;
}

void FileLedger::startSweep()
{
    sweepActive = true;
    sweepAfter.clear();
}

QStringList FileLedger::nextSweepNames(int count)
{
    QStringList names;
    if (!sweepActive)
        return names;
    QSqlQuery query(db());
    query.setForwardOnly(true);
    const bool first = sweepAfter.isEmpty();
    query.prepare(QStringLiteral("SELECT `name`, `recorded` FROM `store_files` %1 ORDER BY `name` LIMIT ?")
                      .arg(first ? QString() : QStringLiteral("WHERE `name` > ?")));
    if (!first)
        query.addBindValue(sweepAfter);
    query.addBindValue(count);
    int seen = 0;
    if (query.exec()) {
        while (query.next()) {
            ++seen;
            sweepAfter = query.value(0).toString();
            // This session's own names are freed by the removals that free them.
            if (query.value(1).toLongLong() < writerStart)
                names.append(sweepAfter);
        }
    }
    if (query.lastError().isValid()) {
        qCWarning(lcStore).noquote() << "Database: the sweep of unnamed files stopped:" << sqlReason(query.lastError());
        seen = 0;
    }
    if (seen < count)
        sweepActive = false;
    return names;
}

} // namespace store_internal
