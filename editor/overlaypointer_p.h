#pragma once

// How the overlays over the editor view follow the pointer: where a dragged
// one may go, and how a fading one chooses its state from the pointer.

#include "customwidget.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QPoint>
#include <QWidget>

// Where a panel over a view stands: the view's viewport, clear of its
// scroll bars and frame; over any other parent, the parent's whole area.
inline QRect overlayArea(const QWidget *overlay)
{
    const QWidget *parent = overlay->parentWidget();
    if (const auto *area = qobject_cast<const QAbstractScrollArea *>(parent))
        return area->viewport()->geometry();
    return parent ? parent->rect() : QRect();
}

// Anywhere, as long as 15 px of the overlay stay inside its parent on every
// side (a 100 x 100 area without a parent). When the parent is too small for
// both bounds, the one that keeps the overlay's far edge inside wins.
inline QPoint keptInsideParent(const QWidget *overlay, const QPoint &wanted)
{
    constexpr int inside = 15;
    const QWidget *parent = overlay->parentWidget();
    const int pw = parent ? parent->width() : 100;
    const int ph = parent ? parent->height() : 100;
    return {qMax(qMin(wanted.x(), pw - inside), inside - overlay->width()),
            qMax(qMin(wanted.y(), ph - inside), inside - overlay->height())};
}

// Shown while the pointer is within `nearMargin` px of the panel (edges
// included), dimmed elsewhere over its parent, hidden beyond; each change
// animated.
inline void fadeByPointer(CustomWidget *panel, int nearMargin)
{
    const QPoint pointer = panel->mapFromGlobal(QCursor::pos());
    const QWidget *parent = panel->parentWidget();
    int state = CustomWidget::Hidden;
    if (panel->rect().adjusted(-nearMargin, -nearMargin, nearMargin, nearMargin).contains(pointer))
        state = CustomWidget::Shown;
    else if (parent && parent->rect().contains(panel->mapToParent(pointer)))
        state = CustomWidget::Dimmed;
    panel->setState(state, false);
    // A panel faded out earlier hid itself; fading in must bring it back.
    if (state != CustomWidget::Hidden)
        panel->show();
}
