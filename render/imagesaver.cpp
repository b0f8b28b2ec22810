#include "imagesaver.h"

#include "database.h"
#include "engine.h"
#include "imagecache.h"
#include "imageencoding.h"
#include "renderlog.h"

ImageSaver::ImageSaver(const QImage &image, const QString &file, bool commitAfter, const QString &format,
                       int quality)
    : image(image)
    , file(file)
    , commitAfter(commitAfter)
    , format(format)
    , quality(quality)
{
    setAutoDelete(true);
}

void ImageSaver::run()
{
    QByteArray bytes;
    if (!encodeImage(image, format.toLatin1().constData(), quality, &bytes)) {
        qCWarning(lcRender) << "encoding" << file << "as" << format << "failed; nothing stored";
        // The picture lives on in the cache for whoever shows it meanwhile.
        if (!image.isNull())
            cacheImage(file, image);
        return;
    }
    Database::setFileData(file, bytes);
    if (commitAfter)
        requestCommit();
}
