#include "annotationlooks.h"

#include <QPainter>

namespace {
QRectF grown(const QRectF &rect, double by)
{
    return rect.adjusted(-by, -by, by, by);
}
} // namespace

void paintStroke(QPainter *painter, const QPolygonF &points, const QPen &pen)
{
    if (points.size() == 1) {
        const double radius = pen.widthF() / 2;
        painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(pen.color(), Qt::SolidPattern));
        painter->drawEllipse(points.first(), radius, radius);
    } else if (points.size() > 1) {
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawPolyline(points);
    }
}

QPen markerPen(QPen pen)
{
    QColor colour = pen.color();
    colour.setAlphaF(0.3f);
    pen.setColor(colour);
    return pen;
}

void paintFigure(QPainter *painter, FigureKind figure, const QRectF &rect, const QPen &pen, const QBrush &brush)
{
    const double p = pen.style() == Qt::NoPen ? 0.0 : pen.widthF();
    painter->setBrush(brush);
    painter->setPen(p > 0.1 ? pen : QPen(Qt::NoPen));
    const QRectF outline = grown(rect, p / 2);
    if (figure == FigureKind::Ellipse)
        painter->drawEllipse(outline);
    else
        painter->drawRect(outline);
}

QRectF figureBounds(const QRectF &rect, double penWidth)
{
    return grown(grown(rect, penWidth / 2).normalized(), penWidth / 2);
}
