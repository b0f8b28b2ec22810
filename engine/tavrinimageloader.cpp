#include "tavrinimageloader_p.h"

#include "imagecache.h"

#include "database.h"

#include <QCoreApplication>
#include <QImage>

TavrinImageLoader::TavrinImageLoader(const QString &file)
    : file(file)
{
}

void TavrinImageLoader::run()
{
    auto *image = new QImage;
    if (!image->loadFromData(Database::fileData(file)))
        *image = QImage();
    const QString name = file;
    // Without an application nobody could be told; the load is dropped.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [name, image] { imageLoadFinished(name, image); }, Qt::QueuedConnection);
    else
        delete image;
}
