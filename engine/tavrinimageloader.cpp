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
    const QString name = file;
    // The picture travels inside the call by value, so a call the application
    // drops at quit frees it. Without an application nobody could be told.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [name, image = picture.image] { imageLoadFinished(name, image); }, Qt::QueuedConnection);
}
