#pragma once

// Helpers beside the engine's test store: rows written as the editor does
// them, and the stored pictures read back.

#include "database.h"
#include "dirtyskrins.h"
#include "engine.h"
#include "enginefixture.h"
#include "imagecache.h"
#include "openstore.h" // addRow
#include "pictures.h"
#include "thumbnailerthread.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QTest>

inline Id addImage(Id skrin, const QString &file, const QSize &size, const QRectF &source, double x = 0)
{
    return addRow("skrin_image", skrin, {{"x", x}, {"y", 0}, {"z", 0}, {"file", file}, {"w", size.width()},
                                         {"h", size.height()}, {"src_x", source.x()}, {"src_y", source.y()},
                                         {"src_w", source.width()}, {"src_h", source.height()}});
}

// Renders the screenshot's picture and thumbnails on this thread.
inline void render(Id skrin, bool commitAfter = false, const QByteArray &format = "JPG")
{
    ThumbnailerThread job(skrin, commitAfter, format);
    job.setAutoDelete(false);
    job.run();
}

// Marks the screenshot changed at a time of its own, and renders it.
inline void markAndRender(Id skrin, bool commitAfter = false)
{
    QTest::qWait(2);
    markSkrinDirty(skrin);
    render(skrin, commitAfter);
}

// A picture in the file store (not in the image cache) and its name.
inline QString storedPicture(const QImage &image)
{
    return Database::storeNewFile(encoded(image), QStringLiteral(".png"));
}

// A stored file decoded, and its format.
inline QImage storedFile(const QString &name, QByteArray *format = nullptr)
{
    QBuffer buffer;
    buffer.setData(Database::fileData(name));
    buffer.open(QIODevice::ReadOnly);
    if (format)
        *format = QImageReader::imageFormat(&buffer);
    return QImage::fromData(buffer.data());
}

// The screenshot's stored extent.
inline QRectF skrinRect(Id skrin)
{
    return QRectF(getMember(skrin, QStringLiteral("x")).toDouble(), getMember(skrin, QStringLiteral("y")).toDouble(),
                  getMember(skrin, QStringLiteral("w")).toDouble(), getMember(skrin, QStringLiteral("h")).toDouble());
}

// The stored file a screenshot member names, decoded, and its format.
inline QImage storedImage(Id skrin, const char *member, QByteArray *format = nullptr)
{
    return storedFile(getMember(skrin, QLatin1String(member)).toString(), format);
}
