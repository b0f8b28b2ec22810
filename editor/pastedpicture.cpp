#include "pastedpicture_p.h"

#include "imagejobs.h"
#include "paintlimits.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace {

// What a decoder may hold beyond the stored picture: a picture whose decoder
// cannot make the smaller size itself is decoded whole, and only when that
// whole stays within this.
constexpr qint64 maxDecodingBytes = 256LL * 1024 * 1024;
// The part of a whole picture widened to 32 bits at a time while scaling.
constexpr qint64 bandBytes = 8LL * 1024 * 1024;
// Enough of a file's start to find a JPEG's frame header behind its
// metadata.
constexpr qint64 headBytes = 256 * 1024;

// The size the picture is stored at.
QSize storedSize(const QSize &size, const QSize &limit)
{
    if (size.width() <= limit.width() && size.height() <= limit.height())
        return size;
    return size.scaled(limit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

enum class JpegFrame { Sequential, Progressive, Unknown };

// A JPEG's frame type, from the markers before its first frame header.
JpegFrame jpegFrame(const QByteArray &head)
{
    qsizetype at = 2; // after the start of image
    while (at + 4 <= head.size()) {
        if (uchar(head.at(at)) != 0xff)
            return JpegFrame::Unknown;
        const uchar marker = uchar(head.at(at + 1));
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame) {
            const bool progressive = marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
            return progressive ? JpegFrame::Progressive : JpegFrame::Sequential;
        }
        at += 2 + ((uchar(head.at(at + 2)) << 8) | uchar(head.at(at + 3)));
    }
    return JpegFrame::Unknown;
}

// PNG's decoder scales 8-bit colour (with or without alpha) row by row when
// the rows are not interlaced; other kinds it decodes whole first.
bool pngScalesByRows(const QByteArray &head)
{
    constexpr int depthAt = 24, colourAt = 25, interlaceAt = 28;
    if (head.size() <= interlaceAt || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR")
        return false;
    const int colour = uchar(head.at(colourAt));
    return uchar(head.at(depthAt)) == 8 && (colour == 2 || colour == 4 || colour == 6) && head.at(interlaceAt) == 0;
}

// Qt's smooth scaling widens the whole picture to 32 bits first (a 1-bit
// picture of 16384 x 16384 pixels becomes 1 GiB); band by band, only one
// band is widened at a time. Rows of the target map to whole source rows at
// each band's edges, so the bands tile the picture exactly.
QImage scaledInBands(const QImage &source, const QSize &target)
{
    const QImage::Format wide = source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage result(target, wide);
    if (result.isNull())
        return {};
    const double step = double(source.height()) / target.height();
    const qint64 rowsPerBand = std::max<qint64>(1, bandBytes / (qint64(source.width()) * 4));
    const int targetRowsPerBand = int(std::clamp<qint64>(qint64(rowsPerBand / step), 1, target.height()));
    const qsizetype rowBytes = qsizetype(target.width()) * 4;
    for (int top = 0; top < target.height(); top += targetRowsPerBand) {
        const int bottom = std::min(target.height(), top + targetRowsPerBand);
        const int from = int(std::lround(top * step));
        const int to = bottom == target.height() ? source.height() : int(std::lround(bottom * step));
        const QImage band = source.copy(0, from, source.width(), std::max(1, to - from))
                                .convertToFormat(wide)
                                .scaled(target.width(), bottom - top, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(wide);
        if (band.isNull())
            return {};
        for (int y = 0; y < band.height(); ++y)
            std::copy_n(band.constScanLine(y), rowBytes, result.scanLine(top + y));
    }
    return result;
}

// Bytes a picture of `size` takes decoded whole in `format`.
qint64 wholeBytes(const QSize &size, QImage::Format format)
{
    const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return (qint64(size.width()) * std::max(bits, 1) + 31) / 32 * 4 * size.height();
}

} // namespace

PastedPicture PastedPicture::read(QIODevice *device, const QSize &limit)
{
    PastedPicture result;
    const QByteArray head = device->peek(headBytes);
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        result.failure = NotPicture;
        return result;
    }
    // Known from the header: an enormous picture is refused before any of
    // it is decoded.
    result.size = reader.size();
    const bool sized = result.size.isValid();
    if (sized && !isCanvasSizeAllowed(result.size)) {
        result.failure = TooLarge;
        return result;
    }
    const QSize stored = sized ? storedSize(result.size, limit) : QSize();
    const QByteArray format = reader.format();
    // Scaled by the decoder itself, which then holds no more than rows of the
    // picture, or (a progressive JPEG) every pixel's coefficients: three
    // components of two bytes.
    qint64 decoding = 0;
    bool decoderScales = false;
    if (sized && stored != result.size) {
        if (format == "jpeg") {
            decoderScales = true;
            if (jpegFrame(head) != JpegFrame::Sequential)
                decoding = qint64(result.size.width()) * result.size.height() * 6;
        } else if (format == "png" && pngScalesByRows(head)) {
            decoderScales = true;
        } else {
            decoding = wholeBytes(result.size, reader.imageFormat());
        }
    }
    if (decoding > maxDecodingBytes) {
        result.failure = TooLarge;
        return result;
    }

    raiseImageAllocationLimit();
    if (decoderScales)
        reader.setScaledSize(stored);
    QImage image = reader.read();
    if (image.isNull()) {
        result.failure = Unreadable;
        result.reason = reader.errorString();
        return result;
    }
    result.keepWithin(image, limit);
    return result;
}

PastedPicture PastedPicture::fromImage(const QImage &image, const QSize &limit)
{
    PastedPicture result;
    result.size = image.size();
    if (image.isNull())
        result.failure = NotPicture;
    else
        result.keepWithin(image, limit);
    return result;
}

void PastedPicture::keepWithin(const QImage &whole, const QSize &limit)
{
    const QSize stored = storedSize(whole.size(), limit);
    image = stored == whole.size() ? whole : scaledInBands(whole, stored);
    if (image.isNull()) {
        failure = Unreadable;
        reason = QCoreApplication::translate("PastedPicture", "not enough memory");
    }
}
