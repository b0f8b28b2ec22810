#pragma once

// Pictures as the tests make, store and send them.

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QRandomGenerator>

// A picture of one colour.
inline QImage filledImage(const QSize &size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Unique colours (up to 256 x 256), and a checker in the blue channel that
// any scaling or blurring would smear. Pixel (0, 0) is the one of colour
// (1, 2, 3).
inline QImage patterned(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(1 + x * 3, 2 + y * 5, ((x + y) % 2) ? 250 : 3));
    return image;
}

// Where `colour` first shows in `image`, or (-1, -1).
inline QPoint findColour(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) == (colour & 0xffffff))
                return {x, y};
    return {-1, -1};
}

// A picture of random pixels, which no format makes much smaller.
inline QImage noisyImage(const QSize &size, quint32 seed = 1)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        random.fillRange(line, image.width());
    }
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

// The share of pixels with a channel that differs by more than `tolerance`.
inline double differingShare(const QImage &a, const QImage &b, int tolerance)
{
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            differing += qAbs(qRed(p) - qRed(q)) > tolerance || qAbs(qGreen(p) - qGreen(q)) > tolerance
                         || qAbs(qBlue(p) - qBlue(q)) > tolerance;
        }
    }
    return double(differing) / (qint64(a.width()) * a.height());
}

// One chunk of a PNG file, its checksum included: for files made by hand.
inline QByteArray pngChunk(const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type) + data;
    quint32 crc = 0xffffffffu;
    for (const char byte : body) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    QByteArray chunk;
    QDataStream out(&chunk, QIODevice::WriteOnly);
    out << quint32(data.size());
    out.writeRawData(body.constData(), int(body.size()));
    out << ~crc;
    return chunk;
}

// A PNG of one colour, grey or black and white (or with a palette of one
// colour, `palette`): a few kB for any size. With no rows at all, only its
// header.
inline QByteArray plainPng(int width, int height, int bitDepth, bool withRows = true, bool palette = false)
{
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out << quint32(width) << quint32(height) << quint8(bitDepth) << quint8(palette ? 3 : 0) << quint8(0) << quint8(0)
        << quint8(0);
    const qsizetype row = 1 + (qsizetype(width) * bitDepth + 7) / 8;
    const QByteArray rows = withRows ? qCompress(QByteArray(row * height, '\0'), 9).mid(4) : QByteArray();
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header)
        + (palette ? pngChunk("PLTE", QByteArray("\x30\x60\x90", 3)) : QByteArray()) + pngChunk("IDAT", rows)
        + pngChunk("IEND", {});
}
