#pragma once

// Pictures as the tests make, store and send them.

#include <QBuffer>
#include <QImage>

// A picture of one colour.
inline QImage filledImage(const QSize &size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The picture as a file of `format`.
inline QByteArray encoded(const QImage &image, const char *format = "PNG")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
