#include "decodedpicture.h"

#include "bandscaling_p.h"
#include "scaledpng_p.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QIODevice>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace {

// Enough of a file's start to find a JPEG's frame header behind its
// metadata.
constexpr qint64 headBytes = 256 * 1024;

// The size the picture is stored at: within `limit` when that is valid.
QSize storedSize(const QSize &size, const QSize &limit)
{
    if (!limit.isValid() || (size.width() <= limit.width() && size.height() <= limit.height()))
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

// `count` bytes at `offset` of the file, the device left where it was; from
// the head alone when the device cannot seek.
QByteArray bytesAt(QIODevice *device, const QByteArray &head, qint64 offset, qint64 count)
{
    if (offset + count <= head.size() || device->isSequential())
        return head.mid(offset, count);
    const qint64 at = device->pos();
    QByteArray bytes;
    if (device->seek(offset))
        bytes = device->read(count);
    device->seek(at);
    return bytes;
}

bool isIcon(const QByteArray &format)
{
    return format == "ico" || format == "cur";
}

// The largest picture an icon file holds. Its directory tells at most
// 256 x 256 for each entry, but an entry's data may be a PNG of any size, or
// a bitmap whose own header tells another size: the larger side of each
// counts, of every entry.
QSize iconTrueSize(QIODevice *device, const QByteArray &head, const QSize &told)
{
    QSize largest = told;
    const auto grow = [&largest](qint64 w, qint64 h) {
        const auto side = [](qint64 v) { return int(std::min<qint64>(std::abs(v), INT_MAX)); };
        largest = largest.expandedTo(QSize(side(w), side(h)));
    };
    if (head.size() < 6)
        return largest;
    const int entries = qFromLittleEndian<quint16>(head.constData() + 4);
    for (int i = 0; i < entries; ++i) {
        const QByteArray entry = bytesAt(device, head, 6 + 16 * i, 16);
        if (entry.size() < 16)
            break;
        grow(uchar(entry.at(0)) ? uchar(entry.at(0)) : 256, uchar(entry.at(1)) ? uchar(entry.at(1)) : 256);
        const QByteArray data = bytesAt(device, head, qFromLittleEndian<quint32>(entry.constData() + 12), 24);
        if (data.startsWith("\x89PNG\r\n\x1a\n") && data.size() >= 24)
            grow(qFromBigEndian<quint32>(data.constData() + 16), qFromBigEndian<quint32>(data.constData() + 20));
        else if (data.size() >= 12 && qFromLittleEndian<quint32>(data.constData()) == 12) // the old core header: 16-bit sides
            grow(qFromLittleEndian<quint16>(data.constData() + 4), qFromLittleEndian<quint16>(data.constData() + 6) / 2);
        else if (data.size() >= 12 && qFromLittleEndian<quint32>(data.constData()) > 12)
            grow(qFromLittleEndian<qint32>(data.constData() + 4), qFromLittleEndian<qint32>(data.constData() + 8) / 2);
    }
    return largest;
}

// A GIF decodes to its logical screen, which its reader does not tell: it
// tells the first frame's extent, clipped to the screen. A side of the screen
// left at 0 takes the frame's, as told.
QSize gifTrueSize(const QByteArray &head, const QSize &told)
{
    if (!told.isValid() || head.size() < 10)
        return told;
    return told.expandedTo(QSize(qFromLittleEndian<quint16>(head.constData() + 6), qFromLittleEndian<quint16>(head.constData() + 8)));
}

// The size a decode of the picture makes, where the reader tells less.
QSize trueSize(const QByteArray &format, QIODevice *device, const QByteArray &head, const QSize &told)
{
    if (isIcon(format))
        return iconTrueSize(device, head, told);
    if (format == "gif")
        return gifTrueSize(head, told);
    return told;
}

// A format Qt names for a picture, or Invalid: a decoder that could not
// read its header may name anything.
QImage::Format knownFormat(QImage::Format format)
{
    return format > QImage::Format_Invalid && format < QImage::NImageFormats ? format : QImage::Format_Invalid;
}

// Bytes a picture of `size` takes decoded whole in `format`.
qint64 wholeBytes(const QSize &size, QImage::Format format)
{
    const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return (qint64(size.width()) * std::max(bits, 1) + 31) / 32 * 4 * size.height();
}

// Decodes the whole picture into one filled beforehand, where the decoder
// tells its size and format and so decodes into it: a decoder that reports
// success for a short file (Qt's BMP reader does) leaves the rows the file
// does not hold as that fill (colour 0 of a palette, transparent, or black)
// instead of the memory it was given.
QImage readWhole(QImageReader &reader, const QSize &size, QImage::Format format)
{
    QImage image;
    if (size.isValid() && format != QImage::Format_Invalid) {
        image = QImage(size, format);
        const bool indexed = format == QImage::Format_Mono || format == QImage::Format_MonoLSB
                          || format == QImage::Format_Indexed8;
        if (indexed)
            image.fill(0u);
        else
            image.fill(image.hasAlphaChannel() ? Qt::transparent : Qt::black);
    }
    if (!reader.read(&image))
        return {};
    return image;
}

// Why a decode failed, as the user is told: Qt's reason, or one of ours
// where Qt names none (a header cut short leaves "Unknown error").
QString readFailure(const QImageReader &reader)
{
    return reader.error() == QImageReader::UnknownError
        ? QCoreApplication::translate("DecodedPicture", "the file is damaged or incomplete")
        : reader.errorString();
}

} // namespace

bool isPictureSizeAllowed(const QSize &size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= PictureLimits::maxSide
        && size.height() <= PictureLimits::maxSide && qint64(size.width()) * size.height() <= PictureLimits::maxPixels;
}

void raiseImageAllocationLimit()
{
    const int megabytes = int(PictureLimits::maxWholeDecodeBytes / (1024 * 1024));
    if (QImageReader::allocationLimit() < megabytes)
        QImageReader::setAllocationLimit(megabytes);
}

DecodedPicture DecodedPicture::read(QIODevice *device, const QSize &limit)
{
    DecodedPicture result;
    const qint64 start = device->pos();
    const QByteArray head = device->peek(headBytes);
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    // A picture coming in is turned upright; a stored one is read as it was
    // stored.
    if (limit.isValid())
        reader.setAutoTransform(true);
    if (!reader.canRead()) {
        result.failure = NotPicture;
        return result;
    }
    const QByteArray format = reader.format();
    result.size = reader.size();
    result.size = trueSize(format, device, head, result.size);
    if (!result.size.isValid()) {
        result.failure = Unreadable;
        result.reason = readFailure(reader);
        return result;
    }
    // Known from the header: an enormous picture is refused before any of
    // it is decoded.
    if (!isPictureSizeAllowed(result.size)) {
        result.failure = TooLarge;
        return result;
    }
    const QSize stored = storedSize(result.size, limit);
    const QImage::Format pixels = knownFormat(reader.imageFormat());
    // What the decode holds besides the picture it makes: a progressive
    // JPEG keeps every pixel's coefficients, three components of two bytes.
    const qint64 coefficients =
        format == "jpeg" && jpegFrame(head) != JpegFrame::Sequential ? qint64(result.size.width()) * result.size.height() * 6 : 0;
    // Scaled by the decoder itself, or read in parts, so that no more than
    // rows of the picture (or the coefficients) are held.
    const bool decoderScales = stored != result.size && format == "jpeg";
    const bool pngInParts = stored != result.size && format == "png" && isSequentialPng(head) && !device->isSequential();
    qint64 decoding = decoderScales || pngInParts ? coefficients : wholeBytes(result.size, pixels) + coefficients;
    // An icon's entry is decoded in its own format first, then made 32-bit.
    if (isIcon(format))
        decoding += wholeBytes(result.size, QImage::Format_ARGB32);
    const qint64 budget = stored != result.size ? PictureLimits::maxScaledDecodeBytes : PictureLimits::maxWholeDecodeBytes;
    if (decoding > budget) {
        result.failure = TooLarge;
        return result;
    }

    raiseImageAllocationLimit();
    QImage image;
    if (pngInParts) {
        // The reader took the header already.
        if (device->seek(start))
            image = readScaledPng(device, result.size, stored, &result.reason);
        if (image.isNull()) {
            result.failure = Unreadable;
            return result;
        }
    } else if (decoderScales) {
        reader.setScaledSize(stored);
        image = reader.read();
    } else {
        image = readWhole(reader, reader.size(), pixels);
    }
    if (image.isNull()) {
        result.failure = Unreadable;
        result.reason = readFailure(reader);
        return result;
    }
    result.keepWithin(image, limit);
    return result;
}

DecodedPicture DecodedPicture::fromBytes(const QByteArray &bytes, const QSize &limit)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return read(&buffer, limit);
}

DecodedPicture DecodedPicture::fromImage(const QImage &image, const QSize &limit)
{
    DecodedPicture result;
    result.size = image.size();
    if (image.isNull())
        result.failure = NotPicture;
    else
        result.keepWithin(image, limit);
    return result;
}

void DecodedPicture::keepWithin(const QImage &whole, const QSize &limit)
{
    const QSize stored = storedSize(whole.size(), limit);
    const QImage::Format wide = whole.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    int taken = 0;
    image = stored == whole.size() ? whole : scaledInBands(whole.size(), stored, wide, [&](int count) {
        const QImage band = whole.copy(0, taken, whole.width(), count);
        taken += count;
        return band;
    });
    if (image.isNull()) {
        failure = Unreadable;
        reason = QCoreApplication::translate("DecodedPicture", "not enough memory");
    } else if (image.size() != whole.size()) {
        // The bands hold pixels only; the colours still mean what they did.
        image.setColorSpace(whole.colorSpace());
    }
}
