#pragma once

// Internals shared by the life cycle, the writer thread and the file store.

#include "database_p.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>

namespace store_internal {

// How long a statement waits for a lock held by another connection before it
// fails (and the flush retries later).
constexpr int busyTimeoutMs = 1000;

// True while no store is open; every flush is refused then. Guarded by flushMutex.
extern bool closed;

// The writer thread: opens its own connection to `path` and serves every
// flush until stopWriter, whose final flush and the setting of `closed`
// happen under one hold of flushMutex.
bool startWriter(const QString &path, QString *error);
// True when the last flush wrote everything (or no writer ran).
bool stopWriter();
bool writerAccepting();

class FileLedger;

// One flush's work on the file store. The removed names are taken before the
// table snapshot (a file is deleted only once the removal of every row that
// named it is committed) and the rest after it (a row in the snapshot names
// only files whose bytes are in this pass).
struct FilePass
{
    QString folder;                        // absolute "files" path; empty: no folder open
    QHash<QString, quint64> removedBefore; // name -> version of entries marked removed
    QMap<QString, FileEntry> entries;
    QMap<QString, QString> temporaries; // name to write -> the new file it is written through
    // Names handed out by Database::newFileName whose bytes have not come
    // (a picture still being encoded): rows naming them wait.
    QSet<QString> awaited;
    QSet<QString> written;
    QSet<QString> failed;
    QSet<QString> deleted;
    QSet<QString> named;   // removed, but a row names them again: kept
    QSet<QString> foreign; // removed, but not the store's own: the file stays
    QString error;         // why the first failed file could not be written
};

// Deletes the store's file `name` in `folder`: only a plain file, for a
// link or a folder in its place was put there by somebody else. False, and
// nothing deleted, when `name` is not one bare file name (a list read from
// the database file may hold anything).
bool removeStoredFile(const QString &folder, const QString &name);

void takeRemovedFiles(FilePass &pass);
// Whether a file waits to be written or deleted.
bool filesPending();
void takeFileSnapshot(FilePass &pass);
// Records the names in the ledger, then writes the files; false when a file
// could not be written.
bool writeFiles(FilePass &pass, FileLedger &ledger);
// After the tables: deletes the removed files when every table was
// committed, and then takes a step of the sweep unless the store is
// closing (a quit never waits for it); then updates the cache.
void finishFilePass(FilePass &pass, FileLedger &ledger, bool tablesCommitted, bool closing);
// Asks the flushes for a sweep. An open starts one unless
// Database::setOrphanSweepAtOpen turned that off.
void startOrphanSweep(bool atOpen = false);

} // namespace store_internal
