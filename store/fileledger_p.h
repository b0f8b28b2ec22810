#pragma once

// The names of the files the store has written, kept in "database.db" in a
// table of the store's own: not a declared table, so it is neither loaded
// into memory nor synced. A name is committed there before its file is
// written, so every file the store ever wrote in "files" is on the list, and
// the store deletes nothing that is not: whatever else lies in the folder (a
// user's own documents, whatever their names) was not made by it.

#include "database_p.h"

#include <QSqlDatabase>

#include <functional>

namespace store_internal {

// The ledger's table in the file.
QString fileLedgerName();

// Creates the ledger in a file that has none: a new store, or one written
// before the store kept a ledger. Such an older store's files that its rows
// name, and that are in `filesFolder`, are recorded, for the store wrote
// them; its other files stay unrecorded, and so are never deleted. Runs in
// the caller's transaction.
bool ensureFileLedger(const QSqlDatabase &db, const QString &filesFolder, QString *error);

// Calls `visit` with every name the ledger of `db` records; false when the
// ledger cannot be read.
bool visitRecordedNames(const QSqlDatabase &db, const std::function<void(const QString &)> &visit);

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
    bool anythingToCommit() const { return !forgotten.isEmpty(); }

    // Of `names`, those recorded; false when the file could not tell.
    bool recordedAmong(const QStringList &names, QSet<QString> *recorded) const;
    // Of `names`, those that a committed row of the file names in a file
    // column; false when the file could not tell.
    bool namedInFile(const QStringList &names, QSet<QString> *named) const;

    // The sweep walks the names recorded before this writer began, in name
    // order, a few at a time: nothing is kept between steps but its place.
    void startSweep();
    bool sweeping() const { return sweepActive; }
    // The next names to look at; after the last ones sweeping() is false.
    QStringList nextSweepNames(int count);

private:
    QSqlDatabase db() const;

    QString connectionName;
    QSet<QString> forgotten;
    qint64 writerStart = 0; // ms since the epoch; names recorded since are this session's own
    QString sweepAfter;
    bool sweepActive = false;
};

} // namespace store_internal
