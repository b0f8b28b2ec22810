#pragma once

// The store's lock and the work done while holding it, by the engine itself
// and by the sync engine (its answer handling). Every function here, like
// every engine function that must run under the lock, takes the caller's
// StoreLock, so the compiler sees that storeMutex is held; none of them takes
// the lock itself. The data the lock guards is reachable through it only. The lock is not recursive: the functions of engine.h that
// take it themselves must not be called while a StoreLock lives.
//
// Locks, in the order in which they may be held together: storeMutex, then the
// table store's own mutexes.

#include "engine.h"

#include <QDateTime>
#include <QMap>
#include <QMutexLocker>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVariantMap>

class StoreLock
{
public:
    StoreLock();
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

private:
    QMutexLocker<QMutex> locker;
};

// (table number, row number) of an uncommitted row.
using TableRow = QPair<int, int>;
// A thumbnail claim: the dirty mark's time and the stored screenshot id.
using ThumbnailClaim = QPair<QDateTime, Id>;

// Deletes a stored file unless a member still names it.
void removeFileIfUnreferenced(const StoreLock &, const QString &name);
// Id maps: an id that is not in the map passes unchanged.
Id toServerId(const StoreLock &, Id id);
Id toLocalId(const StoreLock &, Id id);
// Forgets every pending download of one member of one item: its "downloads"
// rows go, and so do their addresses in the queue (a download in flight is
// not cancelled). Accepts a local id that a commit has translated.
void dropPendingDownloads(const StoreLock &, Id id, const QString &member);

namespace locked {

// Id maps, filled by the commit answers: local -> server and server -> local.
QMap<Id, Id> &localToServerIds(const StoreLock &);
QMap<Id, Id> &serverToLocalIds(const StoreLock &);
// Uncommitted rows that the commit in flight carries.
QSet<TableRow> &sentRows(const StoreLock &);
// Screenshots whose thumbnail is being made (dirtyskrins.h).
QSet<ThumbnailClaim> &thumbnailClaims(const StoreLock &);

// The type of the item stored under `storedId` ("" when none).
QString storedItemType(const StoreLock &, Id storedId);
// The table holding the members of an item of `type`; -1 unless synced.
int tableOfType(const StoreLock &, const QString &type);
// A column's number in a bound table, -1 when it has none of that name.
int columnOf(const StoreLock &, int table, const QString &name);
// Row of the item `storedId` in `table`, 0 when none.
int rowOfItem(const StoreLock &, int table, Id storedId);
// readItem under the lock. `emitDownloads` false reads waiting file members
// as null without asking for their download.
QVariantMap readItem(const StoreLock &, Id storedId, bool raw, bool emitDownloads);
// The members of an item named in `names`, read like readItem (not raw, no
// downloads): what watchers look at.
QVariantMap readMembers(const StoreLock &, Id storedId, const QSet<QString> &names);
// A stored member value as readers see it (ids translated, waiting files null).
QVariant resolveMember(const StoreLock &, Id id, const QString &member, const QVariant &stored, bool raw,
                       bool emitDownloads);
// Removes every row of `table` whose `idColumn` holds `id`.
void removeRowsWithId(const StoreLock &, int table, int idColumn, Id id);
// Removes a stored item's rows (its `items` row and its row in the table of
// `type`), forgets the downloads its file members waited for and deletes the
// files no other row names.
void removeStoredItemRows(const StoreLock &, Id storedId, const QString &type);
// The engine's own: removeFileIfUnreferenced, toServerId, toLocalId (below)
// and dropPendingDownloads (downloads.h).
using ::dropPendingDownloads;
using ::removeFileIfUnreferenced;
using ::toLocalId;
using ::toServerId;

} // namespace locked

// The server -> local id map changes on the GUI thread only, so the GUI
// thread may read it whether storeMutex is held or not (a download started
// from a member read holds it).
Id guiThreadLocalId(Id id);
