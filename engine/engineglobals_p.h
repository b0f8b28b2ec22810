#pragma once

// Process-wide state of the item engine, private to it (the sync engine
// reaches what it needs through storelock.h). Each static lists the code that
// owns it; everybody else only reads it, or writes it under the lock named here.
//
// Locks, in the order in which they may be held together: storeMutex, then the
// table store's own mutexes. imageCacheMutex and downloadQueueMutex are taken
// alone. None is recursive.

#include "engine.h"
#include "storelock.h"
#include "storetables.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QMultiHash>
#include <QMultiMap>
#include <QMutex>
#include <QPair>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>

class WatcherInterface;
class WatcherInternal;

struct ImageCacheEntry
{
    QImage image;
    QDateTime lastUse; // when the entry was stored
};

struct PixmapCacheEntry
{
    QPixmap pixmap;
    QDateTime lastUse; // when the entry was stored
};


// --- Engine version and synced tables ------------------------------------------
extern const QString engineVersionText;     // "1.0.1"
extern const QStringList syncedTables;      // the sixteen item types, in order


// --- Watch registry (GUI thread only) -------------------------------------------
extern QMap<Id, WatcherInternal *> watcherById;
extern QMap<Id, WatcherInternal *> itemWatcherById;
extern QMap<Id, WatcherInternal *> openWatcherById;
extern QMultiMap<Id, WatcherInternal *> watchersByItem;
extern QMap<WatcherInterface *, Id> interfaceWatcher;
// Keyed by filterHash; several filters may share a hash, so the watcher's own
// filter decides (exact map equality).
extern QMultiHash<size_t, WatcherInternal *> watcherByFilter;

// A dirty mark a renderer kept for later: the mark's time and the time from
// which it counts as due instead.
struct PutOffMark
{
    QDateTime mark;
    QDateTime from;
};

// --- The store lock and the data it guards ------------------------------------
// One owner, reached only through a held StoreLock (guarded()), so that the
// compiler sees every access made under the lock.
struct StoreGuarded
{
    QMutex storeMutex;
    // Id maps, filled by the sync engine's commit answers.
    QMap<Id, Id> tempIdToServerId;  // local -> server
    QMap<Id, Id> serverIdToTempId;  // server -> local
    QSet<TableRow> sentRows;        // rows a commit carries; the sync engine fills it
    // Background loads of stored pictures (imagecache.h).
    QSet<QString> loadingImages;
    QSet<QString> failedImages;
    // Screenshots whose thumbnail is being made (dirtyskrins.h).
    QSet<ThumbnailClaim> thumbnailsInProgress;
    // Marks kept for later, by stored screenshot id (dirtyskrins.h).
    QHash<Id, PutOffMark> putOffMarks;
    // The row of the local id counter in "options", remembered between creates.
    int itemCounterRow = 0;
};
StoreGuarded &guarded(const StoreLock &);

// --- Download queue --------------------------------------------------------------
// Changed from pool threads (dropPendingDownloads) and the GUI thread; guarded
// by downloadQueueMutex, taken alone.
extern QList<QString> downloadQueue;
extern QMutex downloadQueueMutex;

// --- Image caches (guarded by imageCacheMutex) -----------------------------------
extern QMap<QString, ImageCacheEntry> imageCache;
extern QMap<QString, PixmapCacheEntry> pixmapCache;
extern QMutex imageCacheMutex;
constexpr qint64 imageCacheBudget = 33554432; // bytes, both caches together

// --- Bound table and column numbers (bindTables) --------------------------------
extern StoreTables tables;
