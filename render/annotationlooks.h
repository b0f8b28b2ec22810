#pragma once

// How the annotations look, one definition each, whether a scene item paints
// itself or the renderer paints a stored row.

#include <QBrush>
#include <QPen>
#include <QPolygonF>
#include <QRectF>

class QPainter;

// A freehand stroke: one point is a dot of the pen's width in its colour,
// more an open polyline; nothing for none.
void paintStroke(QPainter *painter, const QPolygonF &points, const QPen &pen);
// The marker's pen: the stroke's, its colour at 30 % alpha.
QPen markerPen(QPen pen);

enum class FigureKind { Rectangle, Ellipse };
// A filled or framed figure: the pen (none when 0.1 wide or less) centred on
// `rect` grown by half its width, so a frame lies wholly outside `rect`.
// Negative sizes are painted as they are, turned inside out.
void paintFigure(QPainter *painter, FigureKind figure, const QRectF &rect, const QPen &pen, const QBrush &brush);
// What that painting covers: `rect` grown by the pen, also where a shrunk
// frame's negative size turns it inside out.
QRectF figureBounds(const QRectF &rect, double penWidth);
