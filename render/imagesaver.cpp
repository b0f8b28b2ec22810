#include "imagesaver.h"

#include "database.h"
#include "engine.h"
#include "imagecache.h"
#include "imageencoding.h"
#include "renderlog.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {
// Files whose saver has not finished, with how many savers each has.
QMutex pendingMutex;
QHash<QString, int> pendingFiles;
} // namespace

ImageSaver::ImageSaver(const QImage &image, const QString &file, bool commitAfter, const QString &format,
                       int quality)
    : image(image)
    , file(file)
    , commitAfter(commitAfter)
    , format(format)
    , quality(quality)
{
    setAutoDelete(true);
    QMutexLocker lock(&pendingMutex);
    ++pendingFiles[file];
}

ImageSaver::~ImageSaver()
{
    QMutexLocker lock(&pendingMutex);
    if (--pendingFiles[file] <= 0)
        pendingFiles.remove(file);
}

bool ImageSaver::isPending(const QString &file)
{
    QMutexLocker lock(&pendingMutex);
    return pendingFiles.contains(file);
}

void ImageSaver::run()
{
    QByteArray bytes;
    if (!encodeImage(image, format.toLatin1().constData(), quality, &bytes)) {
        qCWarning(lcRender) << "encoding" << file << "as" << format << "failed; nothing stored";
        // The picture lives on in the cache for whoever shows it meanwhile.
        if (!image.isNull())
            cacheImage(file, image);
        // No bytes will come: the rows that name the file stop waiting.
        Database::removeFile(file);
        return;
    }
    Database::setFileData(file, bytes);
    if (commitAfter)
        requestCommit();
}
