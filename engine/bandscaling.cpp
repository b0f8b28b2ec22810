#include "bandscaling_p.h"

#include <algorithm>
#include <cmath>

namespace {
// The part of the source widened to 32 bits at a time.
constexpr qint64 bandBytes = 8LL * 1024 * 1024;
} // namespace

QImage scaledInBands(const QSize &size, const QSize &target, QImage::Format wide, const SourceRows &rows)
{
    QImage result(target, wide);
    if (result.isNull())
        return {};
    const double step = double(size.height()) / target.height();
    const qint64 rowsPerBand = std::max<qint64>(1, bandBytes / (qint64(size.width()) * 4));
    const int targetRowsPerBand = int(std::clamp<qint64>(qint64(rowsPerBand / step), 1, target.height()));
    const qsizetype rowBytes = qsizetype(target.width()) * 4;
    // Rows of the target map to whole source rows at each band's edges, so
    // the bands tile the source exactly, in order.
    int taken = 0;
    for (int top = 0; top < target.height(); top += targetRowsPerBand) {
        const int bottom = std::min(target.height(), top + targetRowsPerBand);
        const int to = bottom == target.height() ? size.height() : int(std::lround(bottom * step));
        const int count = std::max(1, to - taken);
        const QImage source = rows(count);
        if (source.isNull())
            return {};
        taken += count;
        const QImage band = source.convertToFormat(wide)
                                .scaled(target.width(), bottom - top, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(wide);
        if (band.isNull())
            return {};
        for (int y = 0; y < band.height(); ++y)
            std::copy_n(band.constScanLine(y), rowBytes, result.scanLine(top + y));
    }
    return result;
}
