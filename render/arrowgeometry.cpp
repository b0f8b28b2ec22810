#include "arrowgeometry.h"

#include <QPainter>
#include <QPainterPathStroker>

#include <cmath>

namespace {
bool isFinite(const QLineF &line)
{
    return std::isfinite(line.x1()) && std::isfinite(line.y1()) && std::isfinite(line.x2())
        && std::isfinite(line.y2());
}

bool nearlyEqual(const QPointF &a, const QPointF &b)
{
    return std::abs(a.x() - b.x()) <= 1e-12 && std::abs(a.y() - b.y()) <= 1e-12;
}

double penWidth(const QPen &pen)
{
    const double w = pen.widthF();
    return std::isfinite(w) && w > 0.0 ? w : 0.0;
}
} // namespace

QPolygonF arrowHeadPolygon(const QLineF &line, const QPen &pen)
{
    const double w = penWidth(pen);
    // unitVector() of a zero-length line is NaN: such a line has no head.
    if (!isFinite(line) || line.isNull() || w <= 0.0)
        return {};
    const double length = line.length();
    if (!(length > 0.0) || !std::isfinite(length))
        return {};
    const QPointF u(line.dx() / length, line.dy() / length);
    const QPointF n(u.y(), -u.x()); // the normal (dy, -dx), unit length
    const QPointF tip = line.p2();
    const QPointF base = tip - 3.0 * w * u;
    const QPointF c1 = base + w * n;
    const QPointF c2 = base - w * n;
    if (nearlyEqual(tip, c1) || nearlyEqual(tip, c2) || nearlyEqual(c1, c2))
        return {};
    QPolygonF head{tip, c1, c2, tip};
    const QRectF bounds = head.boundingRect();
    if (bounds.width() == 0.0 && bounds.height() == 0.0)
        return {};
    return head;
}

QRectF arrowBoundingRect(const QLineF &line, const QPen &pen)
{
    if (!isFinite(line))
        return {};
    const double half = penWidth(pen) / 2.0;
    const QMarginsF grow(half, half, half, half);
    QRectF rect = QRectF(line.p1(), line.p2()).normalized().marginsAdded(grow);
    const QPolygonF head = arrowHeadPolygon(line, pen);
    if (!head.isEmpty())
        rect = rect.united(head.boundingRect().marginsAdded(grow));
    return rect;
}

QPainterPath arrowShape(const QLineF &line, const QPen &pen)
{
    if (!isFinite(line))
        return {};
    QPainterPath path;
    path.moveTo(line.p1());
    path.lineTo(line.p2());
    path.addPolygon(arrowHeadPolygon(line, pen));
    QPainterPathStroker stroker;
    stroker.setCapStyle(pen.capStyle());
    const double w = penWidth(pen);
    stroker.setWidth(w > 0.0 ? w : 1e-7);
    stroker.setJoinStyle(pen.joinStyle());
    stroker.setMiterLimit(pen.miterLimit());
    QPainterPath shape = stroker.createStroke(path);
    shape.addPath(path);
    return shape;
}

void paintArrow(QPainter *painter, const QLineF &line, const QPen &pen)
{
    const QPolygonF head = arrowHeadPolygon(line, pen);
    if (head.isEmpty())
        return;
    painter->setPen(pen);
    painter->setBrush(QBrush(pen.color(), Qt::SolidPattern));
    painter->drawLine(line);
    painter->drawPolygon(head, Qt::OddEvenFill);
}
