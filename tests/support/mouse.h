#pragma once

// Synthetic mouse input on a view's viewport, with explicit control of the
// button that changes and the buttons held (QTest's helpers guess the latter).

#include <QApplication>
#include <QGraphicsView>
#include <QMouseEvent>
#include <QWindow>

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

// A mouse event at an unrounded place of a widget, delivered as the window
// system delivers it: to the widget's window, which passes it on to the
// widget (rounding the place on a denser screen, as Qt does).
inline void sendThroughWindow(QWidget *widget, QEvent::Type type, const QPointF &local, Qt::MouseButton button,
                              Qt::MouseButtons held)
{
    QWidget *top = widget->window();
    const QPointF inWindow = local + QPointF(widget->mapTo(top, QPoint(0, 0)));
    QMouseEvent event(type, inWindow, inWindow + QPointF(top->geometry().topLeft()), button, held, Qt::NoModifier);
    QApplication::sendEvent(top->windowHandle(), &event);
}

// One step of a left-button gesture at an unrounded place of a widget, as
// the window system delivers it; the event loop runs after each step.
inline void leftThroughWindow(QWidget *widget, QEvent::Type type, const QPointF &at)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    sendThroughWindow(widget, type, at, button, held);
    QCoreApplication::processEvents();
}

// A left drag through the window, with two moves.
inline void dragThroughWindow(QWidget *widget, const QPointF &from, const QPointF &to)
{
    leftThroughWindow(widget, QEvent::MouseButtonPress, from);
    leftThroughWindow(widget, QEvent::MouseMove, (from + to) / 2);
    leftThroughWindow(widget, QEvent::MouseMove, to);
    leftThroughWindow(widget, QEvent::MouseButtonRelease, to);
}
