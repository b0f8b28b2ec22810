#include "skrinmarker.h"

#include "annotationlooks.h"

SkrinMarker::SkrinMarker(Id id, SkrinHost *skrin)
    : SkrinPen(id, skrin, QStringLiteral("x,y,z,data,pen_size,color"))
{
}

void SkrinMarker::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    paintStroke(painter, polygon(), markerPen(pen()));
    paintSelectionFrame(painter, option, boundingRect());
}
