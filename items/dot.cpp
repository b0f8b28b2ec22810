#include "dot.h"

#include "dotmanager.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QPainter>

Dot::Dot(QGraphicsItem *parent, DotManager *manager)
    : QGraphicsItem(parent)
    , manager(manager)
{
    hide();
    setFlag(ItemIsMovable);
    setZValue(100000.0);
}

Dot::~Dot() = default;

void Dot::setKind(int kind)
{
    if (kind == dotKind)
        return;
    dotKind = kind;
    update();
}

void Dot::releaseManager(DotManager *releasing)
{
    if (releasing && releasing == manager)
        manager = nullptr;
}

QGraphicsView *Dot::view() const
{
    const QGraphicsScene *owner = scene();
    if (!owner || owner->views().isEmpty())
        return nullptr;
    return owner->views().first();
}

QRectF Dot::boundingRect() const
{
    // 16 view pixels square at any zoom, recomputed on every call.
    double w = -1.0;
    double h = -1.0;
    if (const QGraphicsView *v = view()) {
        const QRectF mapped = v->mapToScene(QRect(0, 0, 16, 16)).boundingRect();
        w = mapped.width();
        h = mapped.height();
    }
    return QRectF(-w / 2, -h / 2, w, h);
}

void Dot::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const QRectF r = boundingRect();
    const double s = r.width();
    const double p = s * 0.1;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(Qt::white, p, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->setBrush(Qt::black);
    const double d = (p + s) * 0.25;
    const QRectF m = r.adjusted(d, d, -d, -d);
    switch (dotKind) {
    case Circle:
        painter->drawEllipse(m);
        break;
    case Square:
        painter->drawRect(m);
        break;
    case Cross: {
        // Integer lines: a white cross under a thinner black one.
        const auto crossLines = [painter](const QRectF &box) {
            const double midX = box.left() + box.width() / 2;
            const double midY = box.top() + box.height() / 2;
            painter->drawLine(QLine(int(box.left()), int(midY), int(box.right()), int(midY)));
            painter->drawLine(QLine(int(midX), int(box.top()), int(midX), int(box.bottom())));
        };
        painter->setPen(QPen(Qt::white, 2 * p, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        crossLines(m.adjusted(-2.0, -2.0, 2.0, 2.0));
        painter->setPen(QPen(Qt::black, p, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        crossLines(m);
        break;
    }
    default:
        break;
    }
}

void Dot::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    // Only the left button drags a handle. Other presses go on to the items
    // below (or, during a left drag, are simply not acted upon).
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    leftDrag = true;
    grabOffset = mapFromScene(event->scenePos());
    event->accept();
}

void Dot::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!leftDrag || !(event->buttons() & Qt::LeftButton) || !manager) {
        event->ignore();
        return;
    }
    const QPointF target = pos() + (mapFromScene(event->scenePos()) - grabOffset);
    manager->notifyDotMoved(this, target);
}

void Dot::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        leftDrag = false;
    event->accept();
}
