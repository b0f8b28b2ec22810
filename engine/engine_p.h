#pragma once

// Internal helpers of the item engine, shared by its source files only.

#include "database.h"
#include "engine.h"
#include "storelock.h"

#include <QDateTime>
#include <QVector>

class WatcherInterface;

// The functions taking a StoreLock run with storeMutex held, which the lock
// shows (storelock.h has the sync engine's forms).
QVariant resolveMember(const StoreLock &, Id id, const QString &member, const QVariant &stored, bool raw);
void markMemberModified(const StoreLock &, Id id, const QString &member);
WatchFilter filterToServerIds(const StoreLock &, const WatchFilter &filter);
// Counters kept as options and taken many times a second (ids of new items
// and watchers): the option's row is remembered in `row` between calls and
// checked by its name. An unset counter reads 0.
QVariant counterOption(const QString &name, int *row);
void setCounterOption(const QString &name, const QVariant &value, int *row);

namespace engine_internal {

// The type of the item stored under `storedId` ("" when none).
QString storedItemType(const StoreLock &, Id storedId);
// The table holding the members of an item of `type`; -1 unless synced.
int tableOfType(const QString &type);
// Column numbers and index flags of the bound store, remembered until the
// next bindTables (the only time tables are made anew).
int columnOf(int table, const QString &name);
bool hasIndex(int table, int column);
void forgetTableNumbers();
// Row of the item `storedId` in `table`, 0 when none.
int rowOfItem(const StoreLock &, int table, Id storedId);
// readItem under the lock. `emitDownloads` false reads waiting file
// members as null without asking for their download.
QVariantMap readItemLocked(const StoreLock &, Id storedId, bool raw, bool emitDownloads);
// The members of an item that are named in `names`, read like readItemLocked
// (not raw, no downloads): what watchers look at, for notices of long lists
// of changes that must not copy whole items.
QVariantMap readMembersLocked(const StoreLock &, Id storedId, const QSet<QString> &names);
QVariant resolveMemberImpl(const StoreLock &, Id id, const QString &member, const QVariant &stored, bool raw,
                           bool emitDownloads);
// findItems under the lock.
QList<Id> findItemsLocked(const StoreLock &, const WatchFilter &filter);

// One filter entry against one member value: a null wanted value asks for a
// set member, any other must equal the member (stored value on the left).
bool entryMatches(const QVariant &wanted, const QVariant &member);

// Removes every row of `table` whose `idColumn` holds `id`.
void removeRowsWithId(const StoreLock &, int table, int idColumn, Id id);
// Removes a stored item's rows (its `items` row and its row in the table of
// `type`), forgets the downloads its file members waited for and deletes the
// files no other row names.
void removeStoredItemRows(const StoreLock &, Id storedId, const QString &type);

// The steps of createItemWithMembers, under the lock. addNewItemCell adds a
// member of a new item of `type` (in `column` of its table, -1 for none) to
// its row as setMember would store it and names it in `written`; false when
// setMember would refuse or ignore it.
// writeNewItem writes the item (id, rows, change records made at
// `modified`) and fills `arrived` with what its watchers hear, which the
// caller announces once the lock is free; 0 when nothing was written.
bool addNewItemCell(const StoreLock &, NewRow *row, QStringList *written, int column, const QString &member, const QVariant &value,
                    const QString &type);
Id writeNewItem(const StoreLock &, const QString &type, NewRow typeRow, const QStringList &written, const QVariant &modified,
                QVariantMap *arrived);
// The time (in UTC) a change record made now carries.
QDateTime changeTime();

// Whether the thread calling is the one the watch registry lives on.
bool onRegistryThread();
// Registers `watcherInterface` with the watcher of `filter` (leaving any
// earlier one) without replaying the matches; false when refused.
bool addInterface(const WatchFilter &filter, WatcherInterface *watcherInterface);
// The cells of an item's row in its type's table, with the table's column
// names, when every one of `members` is set there (which is when
// {"id": id, m: null...} matches it); false otherwise. Ids come as the
// program's ids, other cells as stored. Takes storeMutex.
bool readItemCells(Id id, const QStringList &members, QStringList *names, QVector<QVariant> *cells);
// While notifyItemArrived announces item `id` (registry thread, until the
// item changes): its members as announced, and in `allSet` whether each of
// `members` is set in its row. Null otherwise.
const QVariantMap *arrivingRow(Id id, const QStringList &members, bool *allSet);

// Has the store build the file columns' indexes in the background, once
// after each binding of the tables: the first picture loaded asks, and its
// search for the rows naming it runs when the load ends.
void prepareFileLookups();

} // namespace engine_internal
