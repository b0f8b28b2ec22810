#include "skrinmarker.h"

#include <QPen>

SkrinMarker::SkrinMarker(Id id, SkrinHost *skrin)
    : SkrinPen(id, skrin, QStringLiteral("x,y,z,data,pen_size,color"))
{
}

void SkrinMarker::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    QColor translucent = pen().color();
    translucent.setAlphaF(0.3f);
    paintStroke(painter, option, translucent);
}
