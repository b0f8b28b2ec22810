#pragma once

// Process-wide caches of decoded pictures of stored files, by file name: one
// of QImage (any thread) and one of QPixmap (GUI thread only). Entries live a
// few seconds from their last store; an upkeep timer on the GUI thread
// (evictImageCaches once a second while anything is cached) enforces that and
// the byte budget. Stored files that are not cached load in the background
// into the pixmap cache. The empty name means no file and is ignored.

#include <QDateTime>
#include <QImage>
#include <QPixmap>
#include <QString>

// Store a picture (a null one removes the name) and start the upkeep timer. cachePixmap belongs to the GUI thread.
void cacheImage(const QString &file, const QImage &image);
void cachePixmap(const QString &file, const QPixmap &pixmap);

// The same without locking: the caller holds imageCacheMutex.
void insertCachedImage(const QString &file, const QImage &image);
void insertCachedPixmap(const QString &file, const QPixmap &pixmap);
// Entries removed (0 or 1). The caller holds imageCacheMutex.
int removeCachedImage(const QString &file);
int removeCachedPixmap(const QString &file);

// The cached image, or a null one. Never touches the pixmap cache, so pool
// threads may call it. Reading does not prolong an entry's life.
QImage cachedImage(const QString &file);
// The cached pixmap; when only an image of that name is cached, it is
// converted once and cached as a pixmap too. GUI thread only: elsewhere it
// refuses with a warning and gives a null pixmap.
QPixmap cachedPixmap(const QString &file);

// Estimated bytes of a picture: width x height x 4, whatever its format.
qint64 imageByteSize(const QImage &image);
qint64 pixmapByteSize(const QPixmap &pixmap);

// One upkeep pass at `now`: drops the entries stored 3 or more whole seconds
// before it (or stamped after it, when the clock went back), then, while the
// remaining estimate exceeds imageCacheBudget, the oldest entries (ties by
// name, then images before pixmaps). True when both caches are empty
// afterwards, so the caller can stop its timer. `droppedBytes`, when given,
// takes the estimate of what left. GUI thread (it may destroy pixmaps).
bool evictImageCaches(const QDateTime &now, qint64 *droppedBytes = nullptr);
// Empties both caches. GUI thread.
void clearImageCaches();

// Starts the upkeep timer unless it runs. Any thread (from a pool thread it
// starts once the GUI thread gets to it).
void startImageCacheUpkeep();
// One upkeep pass at `now`; the timer stops once both caches are empty, and
// a large eviction gives the freed memory back to the system. GUI thread.
void imageCacheUpkeep(const QDateTime &now = QDateTime::currentDateTime());
bool isImageCacheUpkeepRunning(); // GUI thread

// Starts decoding a stored file on the thread pool, once: nothing for a file
// that is loading or failed before, or that the file store does not have.
// When it is decoded it goes into the pixmap cache, and the watchers of every
// item whose file member names it hear that member change to "%loaded%", so
// that they ask again. GUI thread.
void loadImageAsync(const QString &file);
// Where a background load ends (`image` null when it failed: the file is
// not tried again until forgetImageLoads). GUI thread.
void imageLoadFinished(const QString &file, const QImage &image);
// Forgets the loads under way and the failed ones, and empties both caches.
// GUI thread, while no load runs on the pool.
void forgetImageLoads();
