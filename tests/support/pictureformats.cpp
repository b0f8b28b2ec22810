#include "pictureformats.h"

#include "pictures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

namespace {

QByteArray written(const QImage &image, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

void append16(QByteArray *bytes, int value)
{
    bytes->append(char(value & 0xff));
    bytes->append(char((value >> 8) & 0xff));
}

void append32(QByteArray *bytes, quint32 value)
{
    append16(bytes, int(value & 0xffff));
    append16(bytes, int(value >> 16));
}

// In at most 64 colours, none of them at index `avoided` or beyond.
QImage paletted(const QImage &picture, bool alpha)
{
    QList<QRgb> colours;
    for (int i = 0; i < 64; ++i)
        colours.append(qRgba(20 + i * 3, 200 - i * 2, (i * 37) % 180 + 30, alpha ? 60 + i * 2 : 255));
    return picture.convertToFormat(QImage::Format_Indexed8, colours, Qt::ThresholdDither);
}

// Adam7: each pass's start and step, across and down.
constexpr int adam7[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4}, {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};

QByteArray interlacedPng(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out << quint32(rgb.width()) << quint32(rgb.height()) << quint8(8) << quint8(2) << quint8(0) << quint8(0) << quint8(1);
    QByteArray rows;
    for (const auto &pass : adam7) {
        for (int y = pass[2]; y < rgb.height(); y += pass[3]) {
            if (pass[0] >= rgb.width())
                break;
            rows.append('\0'); // no filter
            for (int x = pass[0]; x < rgb.width(); x += pass[1])
                rows.append(reinterpret_cast<const char *>(rgb.constScanLine(y)) + x * 3, 3);
        }
    }
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", qCompress(rows, 9).mid(4))
        + pngChunk("IEND", {});
}

QByteArray svgFile(const QSize &size)
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='%1' height='%2'>"
                          "<defs><linearGradient id='g'><stop offset='0' stop-color='#1e3c78'/>"
                          "<stop offset='1' stop-color='#e6dcc8'/></linearGradient></defs>"
                          "<rect width='%1' height='%2' fill='url(#g)'/>"
                          "<circle cx='%3' cy='%4' r='%4' fill='#c03020'/></svg>")
        .arg(size.width())
        .arg(size.height())
        .arg(size.width() / 2)
        .arg(size.height() / 3)
        .toUtf8();
}

} // namespace

QImage structuredPicture(const QSize &size, bool alpha, uchar avoided)
{
    QImage image(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const auto channel = [avoided](int value) {
        const int v = 16 + value % 224;
        return v == avoided ? v + 1 : v;
    };
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgba(channel(x * 5 + y), channel(y * 7 + x * 3), channel((x + y) * 3 + x * y % 11),
                            alpha ? channel(x * 2 + y * 5) : 255);
    }
    return image;
}

QByteArray gifFile(const QImage &picture, bool interlaced)
{
    const QImage image = paletted(picture, false);
    QByteArray bytes("GIF89a");
    append16(&bytes, image.width());
    append16(&bytes, image.height());
    bytes.append(char(0xf7)).append('\0').append('\0'); // a table of 256 colours
    for (int i = 0; i < 256; ++i) {
        const QRgb colour = i < image.colorCount() ? image.color(i) : 0;
        bytes.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));
    }
    bytes.append(char(0x2c));
    append16(&bytes, 0);
    append16(&bytes, 0);
    append16(&bytes, image.width());
    append16(&bytes, image.height());
    bytes.append(char(interlaced ? 0x40 : 0)).append(char(8));
    // Every pixel its own 9-bit code, with a clear code before the table
    // would grow the codes to 10 bits.
    QByteArray data;
    quint32 bits = 0;
    int held = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << held;
        for (held += 9; held >= 8; held -= 8, bits >>= 8)
            data.append(char(bits & 0xff));
    };
    QList<int> rows;
    if (interlaced) {
        for (const auto &[start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
            for (int y = start; y < image.height(); y += step)
                rows.append(y);
        }
    } else {
        for (int y = 0; y < image.height(); ++y)
            rows.append(y);
    }
    int codes = 0;
    put(256);
    for (const int y : std::as_const(rows)) {
        for (int x = 0; x < image.width(); ++x, ++codes) {
            if (codes == 254) {
                put(256);
                codes = 0;
            }
            put(image.constScanLine(y)[x]);
        }
    }
    put(257);
    if (held > 0)
        data.append(char(bits & 0xff));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        bytes.append(char(block.size())).append(block);
    }
    return bytes.append('\0').append(char(0x3b));
}

QByteArray iconHoldingPng(const QByteArray &png, const QSize &told)
{
    QByteArray bytes;
    append16(&bytes, 0);
    append16(&bytes, 1); // an icon
    append16(&bytes, 1);
    bytes.append(char(told.width() & 0xff)).append(char(told.height() & 0xff)).append('\0').append('\0');
    append16(&bytes, 1);
    append16(&bytes, 32);
    append32(&bytes, quint32(png.size()));
    append32(&bytes, 22);
    return bytes + png;
}

QList<PictureFile> everyFormat(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const QImage grey = rgb.convertToFormat(QImage::Format_Grayscale8);
    const QImage mono = rgb.convertToFormat(QImage::Format_Mono);
    const QImage withAlpha = picture.hasAlphaChannel() ? picture : structuredPicture(picture.size(), true);
    // Icons hold at most 256 x 256 pixels.
    const QImage iconPart = withAlpha.copy(QRect(QPoint(0, 0), withAlpha.size()).intersected(QRect(0, 0, 256, 256)));
    return {
        {"png-rgb.png", written(rgb, "png")},
        {"png-rgba.png", written(withAlpha, "png")},
        {"png-palette.png", written(paletted(rgb, false), "png")},
        {"png-palette-alpha.png", written(paletted(rgb, true), "png")},
        {"png-grey.png", written(grey, "png")},
        {"png-grey16.png", written(rgb.convertToFormat(QImage::Format_Grayscale16), "png")},
        {"png-1bit.png", written(mono, "png")},
        {"png-rgb16.png", written(rgb.convertToFormat(QImage::Format_RGBX64), "png")},
        {"png-interlaced.png", interlacedPng(rgb)},
        {"jpeg-baseline.jpg", written(rgb, "jpeg")},
        {"jpeg-progressive.jpg", written(rgb, "jpeg", true)},
        {"jpeg-grey.jpg", written(grey, "jpeg")},
        {"bmp-32.bmp", written(rgb, "bmp")},
        {"bmp-8.bmp", written(paletted(rgb, false), "bmp")},
        {"bmp-1.bmp", written(mono, "bmp")},
        {"gif.gif", gifFile(rgb)},
        {"gif-interlaced.gif", gifFile(rgb, true)},
        {"ico-bitmap.ico", written(iconPart, "ico")},
        {"ico-png.ico", iconHoldingPng(written(rgb, "png"), rgb.size())},
        {"cur.cur", written(iconPart, "cur")},
        {"ppm.ppm", written(rgb, "ppm")},
        {"pgm.pgm", written(grey, "pgm")},
        {"pbm.pbm", written(mono, "pbm")},
        {"xbm.xbm", written(mono, "xbm")},
        {"xpm.xpm", written(paletted(rgb, false), "xpm")},
        {"svg.svg", svgFile(rgb.size())},
    };
}
