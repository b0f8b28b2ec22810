#include "customview.h"

#include "customscene.h"

#include <QKeyEvent>
#include <QMouseEvent>

CustomView::CustomView(QWidget *parent)
    : QGraphicsView(parent)
{
    setAttribute(Qt::WA_MouseTracking);
    viewport()->setStyleSheet(QStringLiteral("background: transparent"));
}

CustomScene *CustomView::customScene() const
{
    return qobject_cast<CustomScene *>(scene());
}

void CustomView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    emit resized();
}

void CustomView::mouseMoveEvent(QMouseEvent *event)
{
    QGraphicsView::mouseMoveEvent(event);
    emit mouseMoved(event->position().toPoint());
}

void CustomView::mousePressEvent(QMouseEvent *event)
{
    QGraphicsView::mousePressEvent(event);
    emit mousePressed(event->button(), event->position().toPoint());
}

void CustomView::mouseReleaseEvent(QMouseEvent *event)
{
    QGraphicsView::mouseReleaseEvent(event);
    emit mouseReleased(event->button());
}

void CustomView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QGraphicsView::mouseDoubleClickEvent(event);
    emit mouseDoubleClicked(event->button(), event->position().toPoint());
}

void CustomView::leaveEvent(QEvent *event)
{
    QGraphicsView::leaveEvent(event);
    emit leaveEventSignal();
}

void CustomView::enterEvent(QEnterEvent *event)
{
    QGraphicsView::enterEvent(event);
    emit enterEventSignal();
}

void CustomView::keyPressEvent(QKeyEvent *event)
{
    QGraphicsView::keyPressEvent(event);
    if (!event->isAccepted())
        emit keyPressed(event->keyCombination().toCombined());
}

void CustomView::keyReleaseEvent(QKeyEvent *event)
{
    QGraphicsView::keyReleaseEvent(event);
    emit keyReleased(event->keyCombination().toCombined());
}

void CustomView::dragEnterEvent(QDragEnterEvent *event)
{
    if (CustomScene *target = customScene())
        target->viewDragEnterEvent(event);
    QGraphicsView::dragEnterEvent(event);
}

void CustomView::dragMoveEvent(QDragMoveEvent *event)
{
    if (CustomScene *target = customScene())
        target->viewDragMoveEvent(event);
    QGraphicsView::dragMoveEvent(event);
}

void CustomView::dropEvent(QDropEvent *event)
{
    if (CustomScene *target = customScene())
        target->viewDropEvent(event);
    QGraphicsView::dropEvent(event);
}
