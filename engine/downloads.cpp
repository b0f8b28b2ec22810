// Download bookkeeping shared by the item engine and the sync engine.

#include "downloads.h"

#include "engine_p.h"
#include "engineglobals_p.h"

#include "database.h"

#include <QMutexLocker>

int removeFromDownloadQueue(const QString &url)
{
    QMutexLocker lock(&downloadQueueMutex);
    return int(downloadQueue.removeAll(url));
}

void queueDownloadFirst(const QString &url)
{
    if (url.isEmpty())
        return;
    // One step under the lock, so that a pool thread dropping the address
    // meanwhile cannot leave a second copy behind.
    QMutexLocker lock(&downloadQueueMutex);
    downloadQueue.removeAll(url);
    downloadQueue.prepend(url);
}

QString takeQueuedDownload()
{
    QMutexLocker lock(&downloadQueueMutex);
    return downloadQueue.isEmpty() ? QString() : downloadQueue.takeFirst();
}

void clearDownloadQueue()
{
    QMutexLocker lock(&downloadQueueMutex);
    downloadQueue.clear();
}

QList<QString> queuedDownloads()
{
    QMutexLocker lock(&downloadQueueMutex);
    return downloadQueue;
}

void dropPendingDownloads(const StoreLock &lock, Id id, const QString &member)
{
    if (tables.downloadsTable < 0)
        return;
    const Id storedId = toServerId(lock, id);
    RowCursor cursor = Database::select(tables.downloadsTable,
        Conditions {{tables.downloadsMemberColumn, QVariant(member)}, {tables.downloadsIdColumn, QVariant(storedId)}});
    while (cursor.next()) {
        removeFromDownloadQueue(Database::value(cursor, tables.downloadsUrlColumn).toString());
        Database::removeRow(cursor);
    }
}
