#pragma once

// Download bookkeeping: members waiting for a file (table "downloads"), the
// queue of addresses to fetch and the requests that carry files.
//
// The queue is changed from pool threads (through setMember and removeItem)
// and from the GUI thread (the sync engine), so every access goes through the
// functions here, which guard it with downloadQueueMutex. That lock is held
// only for the list operation itself and nothing else is locked meanwhile, so
// callers may hold storeMutex or not.

#include "engine.h"
#include "storelock.h"

#include <QList>
#include <QSet>
#include <QString>

// Removes every copy of `url` from the download queue; how many there were.
int removeFromDownloadQueue(const QString &url);
// Moves `url` to the front of the queue, leaving one copy of it. The empty
// address is ignored.
void queueDownloadFirst(const QString &url);
// Takes the next address off the queue; "" when it is empty.
QString takeQueuedDownload();
// Empties the queue.
void clearDownloadQueue();
// A copy of the queue, next address first.
QList<QString> queuedDownloads();
// dropPendingDownloads (storelock.h) forgets the pending downloads of a member.
