#include "tavrinimageloader_p.h"

#include "imagecache.h"

#include "database.h"
#include "decodedpicture.h"
#include "enginelog.h"

#include <QCoreApplication>
#include <QImage>

TavrinImageLoader::TavrinImageLoader(const QString &file)
    : file(file)
{
}

void TavrinImageLoader::run()
{
    const DecodedPicture picture = DecodedPicture::fromBytes(Database::fileData(file));
    if (picture.failure != DecodedPicture::None)
        qCWarning(lcEngine).noquote() << "picture" << file << "not decoded:"
                                      << (picture.failure == DecodedPicture::TooLarge ? QStringLiteral("too large")
                                                                                      : picture.reason);
    auto *image = new QImage(picture.image);
    const QString name = file;
    // Without an application nobody could be told; the load is dropped.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [name, image] { imageLoadFinished(name, image); }, Qt::QueuedConnection);
    else
        delete image;
}
