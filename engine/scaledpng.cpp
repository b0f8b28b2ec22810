#include "scaledpng_p.h"

#include "bandscaling_p.h"

#include <QIODevice>

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

struct Source
{
    QIODevice *device;
    char message[160];
};

void readBytes(png_structp png, png_bytep data, size_t length)
{
    auto *source = static_cast<Source *>(png_get_io_ptr(png));
    if (source->device->read(reinterpret_cast<char *>(data), qint64(length)) != qint64(length))
        png_error(png, "the file ends early");
}

void onError(png_structp png, png_const_charp message)
{
    auto *source = static_cast<Source *>(png_get_error_ptr(png));
    std::strncpy(source->message, message, sizeof source->message - 1);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// libpng leaves by a long jump on an error: these two hold nothing that a
// jump would have to destroy.

// Reads the header and asks for rows of 8-bit pixels in the bytes of
// QImage::Format_ARGB32 (BGRA or ARGB, as the machine orders a 32-bit word);
// false on an error.
bool startRows(png_structp png, png_infop info, bool *alpha)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    *alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    png_set_filler(png, 0xff, PNG_FILLER_BEFORE);
    png_set_swap_alpha(png);
#else
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_set_bgr(png);
#endif
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == png_get_image_width(png, info) * 4;
}

bool readRows(png_structp png, png_bytepp rows, png_uint_32 count)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_rows(png, rows, nullptr, count);
    return true;
}

} // namespace

bool isSequentialPng(const QByteArray &head)
{
    constexpr int interlaceAt = 28;
    return head.size() > interlaceAt && head.startsWith("\x89PNG\r\n\x1a\n") && head.mid(12, 4) == "IHDR"
        && head.at(interlaceAt) == 0;
}

QImage readScaledPng(QIODevice *device, const QSize &size, const QSize &target, QString *error)
{
    Source source{device, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = QStringLiteral("not enough memory");
        return {};
    }
    png_set_read_fn(png, &source, readBytes);
    bool alpha = false;
    QImage scaled;
    if (startRows(png, info, &alpha) && QSize(int(png_get_image_width(png, info)), int(png_get_image_height(png, info))) == size) {
        QList<png_bytep> rows;
        scaled = scaledInBands(size, target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32,
                               [&](int count) {
                                   QImage band(size.width(), count, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
                                   if (band.isNull())
                                       return QImage();
                                   rows.resize(count);
                                   for (int y = 0; y < count; ++y)
                                       rows[y] = band.scanLine(y);
                                   return readRows(png, rows.data(), png_uint_32(count)) ? band : QImage();
                               });
    }
    if (scaled.isNull())
        *error = source.message[0] ? QString::fromLatin1(source.message) : QStringLiteral("unreadable rows");
    png_destroy_read_struct(&png, &info, nullptr);
    return scaled;
}
