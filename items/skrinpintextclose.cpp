#include "skrinpintextclose.h"

#include "scenepixel_p.h"
#include "skrinpin.h"
#include "skrinpintext.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

SkrinPinTextClose::SkrinPinTextClose(SkrinPinText *note)
    : QGraphicsItem(note)
    , note(note)
{
    setCursor(Qt::PointingHandCursor);
    setVisible(false);
}

QRectF SkrinPinTextClose::boundingRect() const
{
    // Also the click area, larger than the 6 by 6 glyph.
    return QRectF(0, -10, 16, 16);
}

void SkrinPinTextClose::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(Qt::black, 2 * scenePixelSize(this), Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawLine(QLineF(0, 0, 6, 6));
    painter->drawLine(QLineF(6, 0, 0, 6));
}

void SkrinPinTextClose::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (note && note->pin())
        note->pin()->toggleNote();
    event->accept();
}
