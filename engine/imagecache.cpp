// Image caches: decoded pictures of stored files, by file name.

#include "imagecache.h"

#include "enginelog.h"
#include "heapmemory.h"

#include "engine_p.h"
#include "engineglobals_p.h"
#include "tavrinimageloader_p.h"
#include "watcher.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <tuple>

namespace {

constexpr qint64 maxAgeSecs = 3;
constexpr int upkeepIntervalMs = 1000;

// The upkeep timer, made on the GUI thread when first needed and owned by the
// application. GUI thread only.
QPointer<QTimer> upkeepTimer;

QTimer *ensureUpkeepTimer()
{
    if (!upkeepTimer) {
        upkeepTimer = new QTimer(QCoreApplication::instance());
        upkeepTimer->setInterval(upkeepIntervalMs);
        QObject::connect(upkeepTimer, &QTimer::timeout, upkeepTimer, [] { imageCacheUpkeep(); });
    }
    return upkeepTimer;
}

bool onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

struct EvictionRecord
{
    QDateTime lastUse;
    QString file;
    bool isPixmap = false;

    bool operator<(const EvictionRecord &other) const
    {
        return std::tie(lastUse, file, isPixmap) < std::tie(other.lastUse, other.file, other.isPixmap);
    }
};

// Whether an entry stored at `lastUse` is still young at `now`.
bool isFresh(const QDateTime &lastUse, const QDateTime &now)
{
    const qint64 age = lastUse.secsTo(now);
    return age >= 0 && age < maxAgeSecs;
}

} // namespace

void insertCachedImage(const QString &file, const QImage &image)
{
    if (image.isNull())
        removeCachedImage(file);
    else
        imageCache.insert(file, {image, QDateTime::currentDateTime()});
    startImageCacheUpkeep();
}

void insertCachedPixmap(const QString &file, const QPixmap &pixmap)
{
    if (pixmap.isNull())
        removeCachedPixmap(file);
    else
        pixmapCache.insert(file, {pixmap, QDateTime::currentDateTime()});
    startImageCacheUpkeep();
}

int removeCachedImage(const QString &file)
{
    return int(imageCache.remove(file));
}

int removeCachedPixmap(const QString &file)
{
    return int(pixmapCache.remove(file));
}

void cacheImage(const QString &file, const QImage &image)
{
    if (file.isEmpty())
        return;
    QMutexLocker lock(&imageCacheMutex);
    insertCachedImage(file, image);
}

void cachePixmap(const QString &file, const QPixmap &pixmap)
{
    if (file.isEmpty())
        return;
    QMutexLocker lock(&imageCacheMutex);
    insertCachedPixmap(file, pixmap);
}

QImage cachedImage(const QString &file)
{
    if (file.isEmpty())
        return QImage();
    QMutexLocker lock(&imageCacheMutex);
    const auto it = imageCache.constFind(file);
    return it == imageCache.cend() ? QImage() : it->image;
}

QPixmap cachedPixmap(const QString &file)
{
    if (file.isEmpty())
        return QPixmap();
    if (!onGuiThread()) {
        qCWarning(lcEngine).noquote() << "cachedPixmap: asked for" << file
                                      << "off the GUI thread; pixmaps live there only";
        return QPixmap();
    }
    QMutexLocker lock(&imageCacheMutex);
    const auto cached = pixmapCache.constFind(file);
    if (cached != pixmapCache.cend())
        return cached->pixmap;
    const auto source = imageCache.constFind(file);
    if (source == imageCache.cend())
        return QPixmap();
    const QImage image = source->image;
    // The conversion may take a while; pool threads must not wait for it.
    lock.unlock();
    const QPixmap pixmap = QPixmap::fromImage(image);
    lock.relock();
    insertCachedPixmap(file, pixmap);
    return pixmap;
}

qint64 imageByteSize(const QImage &image)
{
    return qint64(image.width()) * image.height() * 4;
}

qint64 pixmapByteSize(const QPixmap &pixmap)
{
    return qint64(pixmap.width()) * pixmap.height() * 4;
}

bool evictImageCaches(const QDateTime &now, qint64 *droppedBytes)
{
    QMutexLocker lock(&imageCacheMutex);
    qint64 total = 0;
    qint64 dropped = 0;
    QList<EvictionRecord> records;
    records.reserve(pixmapCache.size() + imageCache.size());

    for (auto it = pixmapCache.begin(); it != pixmapCache.end();) {
        if (!isFresh(it->lastUse, now)) {
            dropped += pixmapByteSize(it->pixmap);
            it = pixmapCache.erase(it);
            continue;
        }
        total += pixmapByteSize(it->pixmap);
        records.append({it->lastUse, it.key(), true});
        ++it;
    }
    for (auto it = imageCache.begin(); it != imageCache.end();) {
        if (!isFresh(it->lastUse, now)) {
            dropped += imageByteSize(it->image);
            it = imageCache.erase(it);
            continue;
        }
        total += imageByteSize(it->image);
        records.append({it->lastUse, it.key(), false});
        ++it;
    }

    if (total > imageCacheBudget) {
        std::sort(records.begin(), records.end());
        for (const EvictionRecord &record : std::as_const(records)) {
            if (total <= imageCacheBudget)
                break;
            const qint64 bytes = record.isPixmap ? pixmapByteSize(pixmapCache.value(record.file).pixmap)
                                                 : imageByteSize(imageCache.value(record.file).image);
            total -= bytes;
            dropped += bytes;
            if (record.isPixmap)
                removeCachedPixmap(record.file);
            else
                removeCachedImage(record.file);
        }
    }
    if (droppedBytes)
        *droppedBytes = dropped;
    return pixmapCache.isEmpty() && imageCache.isEmpty();
}

void clearImageCaches()
{
    QMutexLocker lock(&imageCacheMutex);
    imageCache.clear();
    pixmapCache.clear();
}

void startImageCacheUpkeep()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return; // no event loop will ever run the upkeep
    if (onGuiThread()) {
        if (!ensureUpkeepTimer()->isActive())
            upkeepTimer->start();
        return;
    }
    QMetaObject::invokeMethod(app, &startImageCacheUpkeep, Qt::QueuedConnection);
}

void imageCacheUpkeep(const QDateTime &now)
{
    qint64 dropped = 0;
    if (evictImageCaches(now, &dropped) && upkeepTimer)
        upkeepTimer->stop();
    // A capture's picture or two: the C library would keep their memory.
    if (dropped >= largeFreeBytes)
        releaseFreeHeapMemory();
}

bool isImageCacheUpkeepRunning()
{
    return upkeepTimer && upkeepTimer->isActive();
}

void loadImageAsync(const QString &file)
{
    if (file.isEmpty() || !onGuiThread())
        return;
    {
        StoreLock lock;
        if (guarded(lock).loadingImages.contains(file) || guarded(lock).failedImages.contains(file))
            return;
        if (!Database::fileExists(file))
            return;
        guarded(lock).loadingImages.insert(file);
    }
    engine_internal::prepareFileLookups();
    QThreadPool::globalInstance()->start(new TavrinImageLoader(file));
}

void imageLoadFinished(const QString &file, const QImage &image)
{
    bool wanted = false;
    {
        StoreLock lock;
        // A load that forgetImageLoads dropped is of no use any more.
        wanted = guarded(lock).loadingImages.contains(file);
        if (wanted && image.isNull())
            guarded(lock).failedImages.insert(file);
    }
    if (wanted && !image.isNull()) {
        cachePixmap(file, QPixmap::fromImage(image));
        struct Shown
        {
            Id id;
            QString member;
            QVariantMap before;
        };
        QList<Shown> shown;
        {
            StoreLock lock;
            for (const QString &type : syncedTables) {
                const int table = Database::tableId(type);
                const QStringList columns = Database::columnNames(table);
                const int idColumn = engine_internal::columnOf(table, QStringLiteral("id"));
                for (int column = 0; column < columns.size(); ++column) {
                    if (!isFileMember(columns.at(column)))
                        continue;
                    RowCursor cursor = Database::select(table, column, QVariant(file));
                    while (cursor.next()) {
                        const Id id = idFromVariant(Database::value(cursor, idColumn));
                        shown.append({id, columns.at(column), engine_internal::readItemLocked(lock, id, true, false)});
                    }
                }
            }
        }
        // Readers ask for the pixmap again and now find it in the cache.
        for (const Shown &entry : std::as_const(shown))
            notifyMemberChanged(entry.id, entry.before, entry.member, QStringLiteral("%loaded%"));
    }
    {
        StoreLock lock;
        guarded(lock).loadingImages.remove(file);
    }
}

void forgetImageLoads()
{
    {
        StoreLock lock;
        guarded(lock).loadingImages.clear();
        guarded(lock).failedImages.clear();
    }
    clearImageCaches();
}
