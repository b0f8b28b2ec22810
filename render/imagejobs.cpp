#include "imagejobs.h"

#include "database.h"
#include "heapmemory.h"
#include "imageconnector.h"
#include "imagecache.h"
#include "imagesaver.h"
#include "paintlimits.h"
#include "thumbnailerthread.h"

#include <QThreadPool>
#include <QTimer>

namespace {

// Jobs started and not yet ended.
QAtomicInt runningJobs;

// Runs `job` on the pool and deletes it. The last job of a batch to end
// hands what the batch freed back to the system: its pictures and canvases
// are large, and each pool thread frees them into a heap of its own, where
// the C library would keep them.
void startImageJob(QRunnable *job)
{
    job->setAutoDelete(false);
    runningJobs.ref();
    QThreadPool::globalInstance()->start(
        [job] {
            job->run();
            delete job;
            if (!runningJobs.deref())
                releaseFreeHeapMemory();
        },
        0);
}

} // namespace

QList<int> thumbnailSizes()
{
    return {64, 128, 512};
}

QString thumbnailMember(int size)
{
    return QStringLiteral("thumbnail%1_file").arg(size);
}

void startThumbnailTimer()
{
    static QTimer *timer = nullptr;
    if (timer)
        return;
    timer = new QTimer;
    timer->setInterval(3000);
    QObject::connect(timer, &QTimer::timeout, ImageConnector::instance(),
                     &ImageConnector::makeDirtSkrinsThumbnails);
    timer->start();
}

void startThumbnailer(Id skrin, bool commitAfter)
{
    startImageJob(new ThumbnailerThread(skrin, commitAfter));
}

void saveImageAsync(const QPixmap &pixmap, const QString &file, bool commitAfter, int quality)
{
    cachePixmap(file, pixmap);
    saveImageAsync(pixmap.toImage(), file, commitAfter, quality);
}

void saveImageAsync(const QImage &image, const QString &file, bool commitAfter, int quality)
{
    cacheImage(file, image);
    const QString format = Database::fileExtension(file).toLower() == QLatin1String(".png")
                               ? QStringLiteral("PNG")
                               : QStringLiteral("JPEG");
    startImageJob(new ImageSaver(image, file, commitAfter, format, quality));
}
