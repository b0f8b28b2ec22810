// The store lock and the locked forms of the engine's store work, for the
// sync engine; each forwards to the engine's own helper.

#include "storelock.h"

#include "downloads.h"
#include "engine_p.h"
#include "engineglobals_p.h"

namespace {
StoreGuarded state;
} // namespace

StoreLock::StoreLock()
    : locker(&state.storeMutex)
{
}

StoreLock::~StoreLock() = default;

StoreGuarded &guarded(const StoreLock &)
{
    return state;
}

namespace locked {

QMap<Id, Id> &localToServerIds(const StoreLock &)
{
    return state.tempIdToServerId;
}

QMap<Id, Id> &serverToLocalIds(const StoreLock &)
{
    return state.serverIdToTempId;
}

QSet<TableRow> &sentRows(const StoreLock &)
{
    return state.sentRows;
}

QSet<ThumbnailClaim> &thumbnailClaims(const StoreLock &)
{
    return state.thumbnailsInProgress;
}

QString storedItemType(const StoreLock &lock, Id storedId)
{
    return engine_internal::storedItemType(lock, storedId);
}

int tableOfType(const StoreLock &, const QString &type)
{
    return engine_internal::tableOfType(type);
}

int columnOf(const StoreLock &, int table, const QString &name)
{
    return engine_internal::columnOf(table, name);
}

int rowOfItem(const StoreLock &lock, int table, Id storedId)
{
    return engine_internal::rowOfItem(lock, table, storedId);
}

QVariantMap readItem(const StoreLock &lock, Id storedId, bool raw, bool emitDownloads)
{
    return engine_internal::readItemLocked(lock, storedId, raw, emitDownloads);
}

QVariantMap readMembers(const StoreLock &lock, Id storedId, const QSet<QString> &names)
{
    return engine_internal::readMembersLocked(lock, storedId, names);
}

QVariant resolveMember(const StoreLock &lock, Id id, const QString &member, const QVariant &stored, bool raw,
                       bool emitDownloads)
{
    return engine_internal::resolveMemberImpl(lock, id, member, stored, raw, emitDownloads);
}

void removeRowsWithId(const StoreLock &lock, int table, int idColumn, Id id)
{
    engine_internal::removeRowsWithId(lock, table, idColumn, id);
}

void removeStoredItemRows(const StoreLock &lock, Id storedId, const QString &type)
{
    engine_internal::removeStoredItemRows(lock, storedId, type);
}

} // namespace locked

Id guiThreadLocalId(Id id)
{
    return state.serverIdToTempId.value(id, id);
}
