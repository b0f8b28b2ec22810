#pragma once

// Bounds for values read from stored rows before they reach a painter. A row
// may come from another client or a damaged store (NaN, 1e300, a pen of 1e9),
// and such values would make QPainter hang, allocate without end or produce
// NaN geometry. The stored rows themselves are never changed: these helpers
// only tame what is painted.

#include "decodedpicture.h"

#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QVariant>

namespace PaintLimits {
// Coordinates and sizes beyond this (in scene units) are clamped to it.
inline constexpr double maxCoordinate = 1.0e6;
// Widest pen that is painted; a stroke wider than this is drawn this wide.
inline constexpr double maxPenWidth = 1000.0;
// Points of one stroke beyond this are ignored.
inline constexpr int maxPolygonPoints = 100000;
// Font point sizes are painted within [minFontPointSize, maxFontPointSize].
inline constexpr int minFontPointSize = 1;
inline constexpr int maxFontPointSize = 1000;
// The largest picture the renderer makes: the largest picture decoded.
inline constexpr qint64 maxCanvasPixels = PictureLimits::maxPixels;
} // namespace PaintLimits

// The value as a real, NaN and infinities giving 0.
double finiteReal(const QVariant &value);

// A coordinate within +-maxCoordinate; non-finite gives 0.
double clampCoordinate(double value);
QPointF clampPoint(const QPointF &point);
// A pen width within [0, maxPenWidth]; negative or non-finite gives 0.
double clampPenWidth(double value);
// A width or height within [0, maxCoordinate]; negative or non-finite gives 0.
double clampSize(double value);
// A point size within the font limits; non-finite gives the smallest.
int clampFontPointSize(double value);

// True when a canvas of this size may be allocated for painting.
bool isCanvasSizeAllowed(const QSize &size);
