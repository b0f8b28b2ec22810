// The store lock and the locked forms of the engine's store work, for the
// sync engine; each forwards to the engine's own helper.

#include "storelock.h"

#include "downloads.h"
#include "engine_p.h"
#include "engineglobals_p.h"

StoreLock::StoreLock()
    : locker(&storeMutex)
{
}

StoreLock::~StoreLock() = default;

namespace locked {

QMap<Id, Id> &localToServerIds(const StoreLock &)
{
    return tempIdToServerId;
}

QMap<Id, Id> &serverToLocalIds(const StoreLock &)
{
    return serverIdToTempId;
}

QSet<TableRow> &sentRows(const StoreLock &)
{
    return ::sentRows;
}

QSet<ThumbnailClaim> &thumbnailClaims(const StoreLock &)
{
    return thumbnailsInProgress;
}

QString storedItemType(const StoreLock &, Id storedId)
{
    return engine_internal::storedItemType(storedId);
}

int tableOfType(const StoreLock &, const QString &type)
{
    return engine_internal::tableOfType(type);
}

int columnOf(const StoreLock &, int table, const QString &name)
{
    return engine_internal::columnOf(table, name);
}

int rowOfItem(const StoreLock &, int table, Id storedId)
{
    return engine_internal::rowOfItem(table, storedId);
}

QVariantMap readItem(const StoreLock &, Id storedId, bool raw, bool emitDownloads)
{
    return engine_internal::readItemLocked(storedId, raw, emitDownloads);
}

QVariantMap readMembers(const StoreLock &, Id storedId, const QSet<QString> &names)
{
    return engine_internal::readMembersLocked(storedId, names);
}

QVariant resolveMember(const StoreLock &, Id id, const QString &member, const QVariant &stored, bool raw,
                       bool emitDownloads)
{
    return engine_internal::resolveMemberImpl(id, member, stored, raw, emitDownloads);
}

void removeRowsWithId(const StoreLock &, int table, int idColumn, Id id)
{
    engine_internal::removeRowsWithId(table, idColumn, id);
}

void removeStoredItemRows(const StoreLock &, Id storedId, const QString &type)
{
    engine_internal::removeStoredItemRows(storedId, type);
}

void removeFileIfUnreferenced(const StoreLock &, const QString &name)
{
    ::removeFileIfUnreferenced(name);
}

Id toServerId(const StoreLock &, Id id)
{
    return ::toServerId(id);
}

Id toLocalId(const StoreLock &, Id id)
{
    return ::toLocalId(id);
}

void dropPendingDownloads(const StoreLock &, Id id, const QString &member)
{
    ::dropPendingDownloads(id, member);
}

} // namespace locked

Id guiThreadLocalId(Id id)
{
    return ::toLocalId(id);
}
