#pragma once

// Synthetic mouse input on a view's viewport, with explicit control of the
// button that changes and the buttons held (QTest's helpers guess the latter).

#include <QApplication>
#include <QGraphicsView>
#include <QMouseEvent>

inline void sendMouse(QGraphicsView *view, QEvent::Type type, const QPointF &scenePos,
                      Qt::MouseButton button, Qt::MouseButtons held)
{
    QWidget *port = view->viewport();
    const QPointF local = view->mapFromScene(scenePos);
    QMouseEvent event(type, local, port->mapToGlobal(local), button, held, Qt::NoModifier);
    QApplication::sendEvent(port, &event);
}

// A left drag from one scene point to another in `steps` moves.
inline void leftDrag(QGraphicsView *view, const QPointF &from, const QPointF &to, int steps = 3)
{
    sendMouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= steps; ++i)
        sendMouse(view, QEvent::MouseMove, from + (to - from) * (double(i) / steps), Qt::NoButton, Qt::LeftButton);
    sendMouse(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}
