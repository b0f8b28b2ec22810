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

// Forgets every pending download of one member of one item: its "downloads"
// rows go, and so do their addresses in the queue (a download in flight is
// not cancelled). Accepts a local id that a commit has translated. The caller
// holds storeMutex.
void dropPendingDownloads(Id id, const QString &member);
