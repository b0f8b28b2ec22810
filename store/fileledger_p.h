#pragma once

// The names of the files the store has written, kept in "database.db" in a
// table of the store's own: not a declared table, so it is neither loaded
// into memory nor synced. A name is committed there before its file is
// written, so every file the store ever wrote in "files" is on the list.

#include "database_p.h"

#include <QSqlDatabase>

namespace store_internal {

// The ledger's table in the file.
QString fileLedgerName();

// Creates the ledger in a file that has none: a new store, or one written
// before the store kept a ledger. Such an older store's files that its rows
// name, and that are in `filesFolder`, are recorded, for the store wrote
// them; its other files stay unrecorded, and so are never deleted. Runs in
// the caller's transaction.
bool ensureFileLedger(const QSqlDatabase &db, const QString &filesFolder, QString *error);

// The ledger as the writer thread uses it, on the writer's connection.
class FileLedger
{
public:
    explicit FileLedger(const QString &connectionName);

    // Records `names`, and drops the names forgotten since the last commit,
    // in one transaction. False, and nothing recorded, when it failed.
    bool commit(const QStringList &names, QString *error);
    // The name's file is gone: its record goes with the next commit.
    void forget(const QString &name) { forgotten.insert(name); }

private:
    QSqlDatabase db() const;

    QString connectionName;
    QSet<QString> forgotten;
};

} // namespace store_internal
