#pragma once

// Pixelation under a stroke: wherever a round-capped pen of `penWidth` along
// `polygon` would paint, the picture below is replaced by blocks of averaged
// colour (7x7 pixels at a step of 6, the page colour counted once into each).
// Used by the scene's blur item on its cache and by the renderer on its canvas.

#include <QImage>
#include <QPointF>
#include <QPolygonF>
#include <QRect>

class QPainter;

// `area` is in source pixels; `polygon` is in the target painter's
// coordinates; `offset` is the point in those coordinates that corresponds to
// the top-left pixel of `area`. Pixels outside the source are never read.
void pixelateUnderMask(QPainter *target, const QImage &source, const QRect &area,
                       const QPolygonF &polygon, double penWidth, const QPointF &offset);
