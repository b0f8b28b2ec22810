#pragma once

// Geometry and painting of an arrow (a line with a filled head at its end),
// shared by the scene's arrow item and the renderer so both draw alike.
// The head is 3 pen widths long and 2 wide. A line of length zero, or a pen
// of width zero, has no head; such an arrow paints nothing and its bounding
// rectangle is still finite.

#include <QLineF>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRectF>

class QPainter;

// tip, c1, c2, tip; empty when the head degenerates (or the input is not finite).
QPolygonF arrowHeadPolygon(const QLineF &line, const QPen &pen);
// The line's rectangle grown by half the pen width, united with the head's.
QRectF arrowBoundingRect(const QLineF &line, const QPen &pen);
// The outline used for hit tests: the line plus the head, stroked with the pen.
QPainterPath arrowShape(const QLineF &line, const QPen &pen);
// Draws line and head with the pen and a brush of its colour; nothing when the
// head is empty. The painter's pen and brush are left changed.
void paintArrow(QPainter *painter, const QLineF &line, const QPen &pen);
