#pragma once

// Where the pointer is on a widget, to a fraction of a device-independent
// pixel. On a screen denser than 1x Qt hands a widget its mouse positions
// rounded to whole device-independent pixels, so that two or three device
// pixels share one position and only one of them can be pointed at; the
// widget's window gets them unrounded. An ExactPointer hears the mouse events
// of the widget's window on their way to the widget and gives the unrounded
// place of the one being delivered. It lives in capture, the lowest library
// that the capture overlay and the editor's view both use.

#include <QEvent>
#include <QObject>
#include <QPointF>
#include <QPointer>

class QMouseEvent;
class QWidget;
class QWindow;

class ExactPointer : public QObject
{
public:
    // Refines the mouse events of `widget`, whose child it becomes.
    explicit ExactPointer(QWidget *widget);

    // The place of `event`, delivered to the widget now, in the widget's
    // coordinates: unrounded when its window's event is known, else the
    // event's own.
    QPointF position(const QMouseEvent *event) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchWindow();

    QWidget *const widget;
    QPointer<QWindow> window;
    // The window's last mouse event.
    QEvent::Type type = QEvent::None;
    quint64 timestamp = 0;
    QPointF windowPos;
};
