// Image caches: decoded pictures of stored files, by file name.

#include "imagecache.h"

#include "enginelog.h"

#include "engineglobals_p.h"
#include "syncservice.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <tuple>

namespace {

constexpr qint64 maxAgeSecs = 3;

void startUpkeepTimer()
{
    if (SyncService *sync = syncService())
        sync->imageCacheFilled();
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
    startUpkeepTimer();
}

void insertCachedPixmap(const QString &file, const QPixmap &pixmap)
{
    if (pixmap.isNull())
        removeCachedPixmap(file);
    else
        pixmapCache.insert(file, {pixmap, QDateTime::currentDateTime()});
    startUpkeepTimer();
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

bool evictImageCaches(const QDateTime &now)
{
    QMutexLocker lock(&imageCacheMutex);
    qint64 total = 0;
    QList<EvictionRecord> records;
    records.reserve(pixmapCache.size() + imageCache.size());

    for (auto it = pixmapCache.begin(); it != pixmapCache.end();) {
        if (!isFresh(it->lastUse, now)) {
            it = pixmapCache.erase(it);
            continue;
        }
        total += pixmapByteSize(it->pixmap);
        records.append({it->lastUse, it.key(), true});
        ++it;
    }
    for (auto it = imageCache.begin(); it != imageCache.end();) {
        if (!isFresh(it->lastUse, now)) {
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
            if (record.isPixmap) {
                total -= pixmapByteSize(pixmapCache.value(record.file).pixmap);
                removeCachedPixmap(record.file);
            } else {
                total -= imageByteSize(imageCache.value(record.file).image);
                removeCachedImage(record.file);
            }
        }
    }
    return pixmapCache.isEmpty() && imageCache.isEmpty();
}

void clearImageCaches()
{
    QMutexLocker lock(&imageCacheMutex);
    imageCache.clear();
    pixmapCache.clear();
}
