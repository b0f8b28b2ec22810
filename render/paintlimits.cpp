#include "paintlimits.h"

#include <algorithm>
#include <cmath>

double finiteReal(const QVariant &value)
{
    const double v = value.toDouble();
    return std::isfinite(v) ? v : 0.0;
}

double clampCoordinate(double value)
{
    if (!std::isfinite(value))
        return 0.0;
    return std::clamp(value, -PaintLimits::maxCoordinate, PaintLimits::maxCoordinate);
}

QPointF clampPoint(const QPointF &point)
{
    return QPointF(clampCoordinate(point.x()), clampCoordinate(point.y()));
}

double clampPenWidth(double value)
{
    if (!std::isfinite(value) || value < 0.0)
        return 0.0;
    return std::min(value, PaintLimits::maxPenWidth);
}

double clampSize(double value)
{
    if (!std::isfinite(value) || value < 0.0)
        return 0.0;
    return std::min(value, PaintLimits::maxCoordinate);
}

int clampFontPointSize(double value)
{
    if (!std::isfinite(value))
        return PaintLimits::minFontPointSize;
    const double clamped = std::clamp(value, double(PaintLimits::minFontPointSize),
                                      double(PaintLimits::maxFontPointSize));
    return int(clamped); // truncated toward zero, as stored sizes are read
}

bool isCanvasSizeAllowed(const QSize &size)
{
    return isPictureSizeAllowed(size);
}
