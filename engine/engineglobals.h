#pragma once

// Process-wide state shared by the item engine and the sync engine. Each
// static lists the code that owns it; everybody else only reads it, or writes
// it under the lock named here.
//
// Locks, in the order in which they may be held together: storeMutex, then the
// table store's own mutexes. imageCacheMutex and downloadQueueMutex are taken
// alone. None is recursive.

#include "engine.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QMultiHash>
#include <QMultiMap>
#include <QMutex>
#include <QPair>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>

class QObject;
class QTimer;
class TavrinConnector;
class WatcherInterface;
class WatcherInternal;

// A pending remote call: who gets the answer, and through which slot
// (a SLOT() signature).
struct ExecRequest
{
    QObject *receiver = nullptr;
    QByteArray slot;
};

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

// (table number, row number) of an uncommitted row.
using TableRow = QPair<int, int>;
// A thumbnail claim: the dirty mark's time and the stored screenshot id.
using ThumbnailClaim = QPair<QDateTime, Id>;

// --- Engine version and synced tables ------------------------------------------
extern const QString engineVersionText;     // "1.0.1"
extern const QStringList syncedTables;      // the sixteen item types, in order

// --- Id maps (items engine; filled by the sync engine's commit answer) ---------
// Guarded by storeMutex.
extern QMap<Id, Id> tempIdToServerId;
extern QMap<Id, Id> serverIdToTempId;

// --- Watch registry (GUI thread only) -------------------------------------------
extern QMap<Id, WatcherInternal *> watcherById;
extern QMap<Id, WatcherInternal *> itemWatcherById;
extern QMap<Id, WatcherInternal *> openWatcherById;
extern QMultiMap<Id, WatcherInternal *> watchersByItem;
extern QMap<WatcherInterface *, Id> interfaceWatcher;
// Keyed by the filter's hash text; several filters may share a text, so the
// watcher's own filter decides (exact map equality).
extern QMultiHash<QString, WatcherInternal *> watcherByFilter;

// --- Store lock and commit bookkeeping ----------------------------------------
extern QMutex storeMutex;
extern QSet<Id> sentCreates;      // sync engine, under storeMutex
extern QSet<TableRow> sentRows;   // sync engine, under storeMutex

// --- Commit state (GUI thread only) --------------------------------------------
extern QDateTime commitScheduledAt;
extern ConnectionId commitConnection; // request of the commit in flight, 0 when none
extern QTimer *commitTimer;
extern bool commitAgain;              // a commit was asked for while one was in flight
extern int commitDelayMs;             // delay commitTimer was last started with, 0: none scheduled
extern int commitFailures;            // failed commits in a row
extern QTimer *brokenDownloadsTimer;
extern QTimer *imageCacheTimer;
extern QTimer *commitModeTimer;
extern int commitModeDelayMs;         // delay last chosen by the commit-mode check
extern bool engineStarted;
extern bool commitHurry;              // starts true
extern QDateTime lastServerChange;    // when a commit answer last changed the store

// --- Downloads and remote calls (sync engine, GUI thread) -----------------------
extern QMap<ConnectionId, ExecRequest> execRequests;
extern QMap<QString, ConnectionId> runningDownloads;
extern QMap<QString, QDateTime> brokenDownloads;
extern QMap<ConnectionId, QSet<Id>> transfersByConnection;
// Changed from pool threads (dropPendingDownloads) and the GUI thread; guarded
// by downloadQueueMutex, taken alone.
extern QList<QString> downloadQueue;
extern QMutex downloadQueueMutex;

// --- Background image loads (sync engine; under storeMutex) ---------------------
extern QSet<QString> loadingImages;
extern QSet<QString> failedImages;

// --- Image caches (guarded by imageCacheMutex) -----------------------------------
extern QMap<QString, ImageCacheEntry> imageCache;
extern QMap<QString, PixmapCacheEntry> pixmapCache;
extern QMutex imageCacheMutex;
constexpr qint64 imageCacheBudget = 33554432; // bytes, both caches together

// --- Thumbnail claims (under storeMutex) ------------------------------------------
extern QSet<ThumbnailClaim> thumbnailsInProgress;

// --- The sync connector -------------------------------------------------------------
// Set once by TavrinConnector::create on the GUI thread; read from any thread.
extern std::atomic<TavrinConnector *> connectorInstance;

// --- Bound table and column numbers (bindTables; -1 until bound) -----------------
extern int itemsTable, itemsIdColumn, itemsTypeColumn, itemsOwnerColumn;
extern int optionsTable, optionsNameColumn, optionsValueColumn;
extern int downloadsTable, downloadsUrlColumn, downloadsIdColumn, downloadsMemberColumn;
extern int uncommittedCreateTable, uncommittedCreateIdColumn;
extern int uncommittedSetTable, uncommittedSetIdColumn, uncommittedSetMemberColumn,
    uncommittedSetModifiedColumn;
extern int uncommittedRemoveTable, uncommittedRemoveIdColumn;
extern int dirtSkrinTable, dirtSkrinIdColumn, dirtSkrinModifiedColumn;
extern int favouriteTable, favouriteItemIdColumn;
extern int serverOptionTable, serverOptionIdColumn, serverOptionNameColumn, serverOptionValueColumn;
extern int tooBigFilesTable, tooBigFilesIdColumn, tooBigFilesMemberColumn, tooBigFilesFileColumn;
