#pragma once

// Where a dragged overlay may go: anywhere, as long as 15 px of it stay inside
// its parent on every side (a 100 x 100 area without a parent). When the
// parent is too small for both bounds, the one that keeps the overlay's far
// edge inside wins.

#include <QPoint>
#include <QWidget>

inline QPoint keptInsideParent(const QWidget *overlay, const QPoint &wanted)
{
    constexpr int inside = 15;
    const QWidget *parent = overlay->parentWidget();
    const int pw = parent ? parent->width() : 100;
    const int ph = parent ? parent->height() : 100;
    return {qMax(qMin(wanted.x(), pw - inside), inside - overlay->width()),
            qMax(qMin(wanted.y(), ph - inside), inside - overlay->height())};
}
