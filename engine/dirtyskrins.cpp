// Dirty screenshots, thumbnail claims and held-back files.

#include "dirtyskrins.h"

#include "engine_p.h"
#include "engineglobals_p.h"

#include "database.h"

#include <QMutexLocker>

#include <algorithm>

namespace {

constexpr int maxDue = 4;
constexpr qint64 restMs = 1001;


// A mark's time as a date-time. Marks written in this run are QDateTime;
// after a restart SQLite hands them back as ISO text, which must compare
// equal to the time it was written from.
QDateTime markTime(const QVariant &cell)
{
    if (isNullValue(cell))
        return QDateTime();
    if (cell.typeId() == QMetaType::QDateTime)
        return cell.toDateTime();
    const QString text = cell.toString().trimmed();
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(text, Qt::ISODate);
    return time;
}

} // namespace

void markSkrinDirty(Id skrin)
{
    if (skrin == 0)
        return;
    StoreLock lock;
    if (tables.dirtSkrinTable < 0)
        return;
    const Id storedId = toServerId(lock, skrin);
    int row = Database::findRow(tables.dirtSkrinTable, tables.dirtSkrinIdColumn, QVariant(storedId));
    if (row <= 0) {
        row = Database::newRow(tables.dirtSkrinTable);
        Database::setValue(tables.dirtSkrinTable, row, tables.dirtSkrinIdColumn, QVariant(storedId));
    }
    Database::setValue(
        tables.dirtSkrinTable, row, tables.dirtSkrinModifiedColumn, QVariant(QDateTime::currentDateTime()));
}

bool isSkrinDirty(Id skrin)
{
    StoreLock lock;
    if (tables.dirtSkrinTable < 0)
        return false;
    return Database::findRow(tables.dirtSkrinTable, tables.dirtSkrinIdColumn, QVariant(toServerId(lock, skrin))) > 0;
}

QList<Id> dueDirtySkrins()
{
    StoreLock lock;
    QList<QPair<QDateTime, Id>> marks;
    RowCursor cursor = Database::allRows(tables.dirtSkrinTable);
    while (cursor.next()) {
        const QDateTime modified = markTime(Database::value(cursor, tables.dirtSkrinModifiedColumn));
        // An unreadable time never becomes due: rendering could not clear it.
        if (!modified.isValid())
            continue;
        const Id id = idFromVariant(Database::value(cursor, tables.dirtSkrinIdColumn));
        // A mark put off queues behind the marks made before it was put off;
        // a mark renewed since counts by its own time.
        const auto putOff = guarded(lock).putOffMarks.constFind(id);
        const bool waiting = putOff != guarded(lock).putOffMarks.cend() && putOff->mark == modified;
        marks.append({waiting ? putOff->from : modified, id});
    }
    std::sort(marks.begin(), marks.end());

    const QDateTime now = QDateTime::currentDateTime();
    QList<Id> due;
    for (const auto &mark : std::as_const(marks)) {
        if (due.size() >= maxDue)
            break;
        if (mark.first.msecsTo(now) > restMs)
            due.append(toLocalId(lock, mark.second));
    }
    return due;
}

QDateTime beginSkrinThumbnail(Id skrin, bool *alreadyClaimed)
{
    StoreLock lock;
    const Id storedId = toServerId(lock, skrin);
    const QDateTime modified =
        tables.dirtSkrinTable < 0
            ? QDateTime()
            : markTime(Database::lookupValue(tables.dirtSkrinTable, tables.dirtSkrinIdColumn, QVariant(storedId),
                                             tables.dirtSkrinModifiedColumn));
    const ThumbnailClaim claim(modified, storedId);
    const bool claimed = guarded(lock).thumbnailsInProgress.contains(claim);
    if (alreadyClaimed)
        *alreadyClaimed = claimed;
    if (claimed)
        return QDateTime();
    guarded(lock).thumbnailsInProgress.insert(claim);
    return modified;
}

void endSkrinThumbnail(Id skrin, const QDateTime &modified)
{
    StoreLock lock;
    const Id storedId = toServerId(lock, skrin);
    if (modified.isValid() && tables.dirtSkrinTable >= 0) {
        // Compared as date-times: a mark read back from the file is text.
        RowCursor cursor = Database::select(tables.dirtSkrinTable, tables.dirtSkrinIdColumn, QVariant(storedId));
        while (cursor.next()) {
            if (markTime(Database::value(cursor, tables.dirtSkrinModifiedColumn)) == modified)
                Database::removeRow(cursor);
        }
    }
    guarded(lock).thumbnailsInProgress.remove(ThumbnailClaim(modified, storedId));
    guarded(lock).putOffMarks.remove(storedId);
}

QDateTime skrinDirtyTime(Id skrin)
{
    StoreLock lock;
    if (tables.dirtSkrinTable < 0)
        return QDateTime();
    return markTime(Database::lookupValue(tables.dirtSkrinTable, tables.dirtSkrinIdColumn, QVariant(toServerId(lock, skrin)),
                                          tables.dirtSkrinModifiedColumn));
}

void releaseSkrinThumbnail(Id skrin, const QDateTime &modified, qint64 retryAfterMs)
{
    StoreLock lock;
    const Id storedId = toServerId(lock, skrin);
    guarded(lock).thumbnailsInProgress.remove(ThumbnailClaim(modified, storedId));
    if (modified.isValid())
        guarded(lock).putOffMarks.insert(storedId, {modified, QDateTime::currentDateTime().addMSecs(retryAfterMs)});
}

QSet<Id> tooBigItemIds()
{
    StoreLock lock;
    QSet<Id> ids;
    RowCursor cursor = Database::allRows(tables.tooBigFilesTable);
    while (cursor.next())
        ids.insert(toLocalId(lock, idFromVariant(Database::value(cursor, tables.tooBigFilesIdColumn))));
    return ids;
}
