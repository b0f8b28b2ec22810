#include "exactpointer.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

ExactPointer::ExactPointer(QWidget *watched)
    : QObject(watched)
    , widget(watched)
{
    // The window exists once the widget is shown, and may change with its
    // top-level widget.
    widget->installEventFilter(this);
    watchWindow();
}

void ExactPointer::watchWindow()
{
    QWindow *current = widget->window()->windowHandle();
    if (current == window)
        return;
    if (window)
        window->removeEventFilter(this);
    window = current;
    type = QEvent::None;
    if (window)
        window->installEventFilter(this);
}

bool ExactPointer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == widget) {
        const QEvent::Type changed = event->type();
        if (changed == QEvent::Show || changed == QEvent::ParentChange || changed == QEvent::WinIdChange)
            watchWindow();
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<const QMouseEvent *>(event);
        type = mouse->type();
        timestamp = mouse->timestamp();
        windowPos = mouse->position();
        break;
    }
    default:
        break;
    }
    return false;
}

QPointF ExactPointer::position(const QMouseEvent *event) const
{
    const QPointF given = event->position();
    if (!window || event->type() != type || event->timestamp() != timestamp)
        return given;
    const QPointF exact = windowPos - QPointF(widget->mapTo(widget->window(), QPoint(0, 0)));
    // The same event only when the widget's place is the window's rounded.
    if (exact.toPoint() != given.toPoint())
        return given;
    return exact;
}
