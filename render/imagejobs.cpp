#include "imagejobs.h"

#include "database.h"
#include "imageconnector.h"
#include "imagecache.h"
#include "imagesaver.h"
#include "paintlimits.h"
#include "thumbnailerthread.h"

#include <QImageReader>
#include <QThreadPool>
#include <QTimer>

QList<int> thumbnailSizes()
{
    return {64, 128, 512};
}

QString thumbnailMember(int size)
{
    return QStringLiteral("thumbnail%1_file").arg(size);
}

void raiseImageAllocationLimit()
{
    // The largest canvas at 4 bytes a pixel, in megabytes.
    const int megabytes = int(PaintLimits::maxCanvasPixels * 4 / (1024 * 1024));
    if (QImageReader::allocationLimit() < megabytes)
        QImageReader::setAllocationLimit(megabytes);
}

void startThumbnailTimer()
{
    static QTimer *timer = nullptr;
    if (timer)
        return;
    raiseImageAllocationLimit();
    timer = new QTimer;
    timer->setInterval(3000);
    QObject::connect(timer, &QTimer::timeout, ImageConnector::instance(),
                     &ImageConnector::makeDirtSkrinsThumbnails);
    timer->start();
}

void startThumbnailer(Id skrin, bool commitAfter)
{
    QThreadPool::globalInstance()->start(new ThumbnailerThread(skrin, commitAfter), 0);
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
    QThreadPool::globalInstance()->start(new ImageSaver(image, file, commitAfter, format, quality), 0);
}
