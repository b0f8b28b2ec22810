#include "skrinarrow.h"

#include "arrowgeometry.h"

SkrinArrow::SkrinArrow(Id id, SkrinHost *skrin)
    : SkrinLine(id, skrin)
{
    setPaintCache(ItemCoordinateCache);
}

QRectF SkrinArrow::boundingRect() const
{
    return arrowBoundingRect(line(), pen());
}

QPainterPath SkrinArrow::shape() const
{
    return arrowShape(line(), pen());
}

void SkrinArrow::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    paintArrow(painter, line(), pen());
    paintSelectionFrame(painter, option, boundingRect());
}
