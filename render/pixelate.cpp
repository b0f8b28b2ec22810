#include "pixelate.h"

#include "annotationlooks.h"
#include "pagecolor.h"
#include "paintlimits.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace {
constexpr int blockStep = 6;

QImage strokeMask(const QRect &area, const QPolygonF &polygon, double penWidth, const QPointF &offset)
{
    QImage mask(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (mask.isNull())
        return mask;
    mask.fill(0);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.translate(-offset);
    // Exactly where the stroke paints: its look, in black.
    paintStroke(&painter, polygon, QPen(QBrush(Qt::black), penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    return mask;
}

bool blockTouchesMask(const QImage &mask, int left, int top, int right, int bottom)
{
    for (int y = top; y <= bottom; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(mask.constScanLine(y));
        for (int x = left; x <= right; ++x) {
            if (line[x] != 0)
                return true;
        }
    }
    return false;
}
} // namespace

void pixelateUnderMask(QPainter *target, const QImage &source, const QRect &area,
                       const QPolygonF &polygon, double penWidth, const QPointF &offset)
{
    if (!target || area.isEmpty() || polygon.isEmpty()
        || qint64(area.width()) * area.height() > PaintLimits::maxCanvasPixels)
        return;
    const double width = clampPenWidth(penWidth);
    const QImage mask = strokeMask(area, polygon, width, offset);
    QImage output(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (output.isNull() || mask.isNull())
        return;
    output.fill(0);

    // The average reads raw 32-bit pixels; other formats are converted once.
    const bool raw = source.format() == QImage::Format_ARGB32_Premultiplied
        || source.format() == QImage::Format_ARGB32 || source.format() == QImage::Format_RGB32;
    // No second reference to a raw source: the caller may be painting on it,
    // and a shared image would be copied whole on the next write.
    QImage converted;
    if (!raw)
        converted = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage &pixels = raw ? source : converted;
    const QColor page = pageColor();
    const int W = std::min(pixels.width(), area.right() + 1);
    const int H = std::min(pixels.height(), area.bottom() + 1);
    const int x0 = std::max(area.left(), 0);
    const int y0 = std::max(area.top(), 0);

    for (int y = y0; y < H; y += blockStep) {
        const int yEnd = std::min(y + blockStep, H - 1);
        for (int x = x0; x < W; x += blockStep) {
            const int xEnd = std::min(x + blockStep, W - 1);
            if (!blockTouchesMask(mask, x - x0, y - y0, xEnd - x0, yEnd - y0))
                continue;
            unsigned a = 255, r = page.red(), g = page.green(), b = page.blue(), count = 1;
            for (int j = y; j <= yEnd; ++j) {
                const QRgb *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(j));
                for (int i = x; i <= xEnd; ++i) {
                    const QRgb p = line[i];
                    if (qAlpha(p) == 0)
                        continue;
                    a += qAlpha(p);
                    r += qRed(p);
                    g += qGreen(p);
                    b += qBlue(p);
                    ++count;
                }
            }
            const QRgb colour = qRgba(int(r / count), int(g / count), int(b / count), int(a / count));
            for (int j = y; j <= yEnd; ++j) {
                const QRgb *maskLine = reinterpret_cast<const QRgb *>(mask.constScanLine(j - y0));
                QRgb *outLine = reinterpret_cast<QRgb *>(output.scanLine(j - y0));
                for (int i = x; i <= xEnd; ++i) {
                    if (maskLine[i - x0] != 0)
                        outLine[i - x0] = colour;
                }
            }
        }
    }
    target->drawImage(offset, output);
}
