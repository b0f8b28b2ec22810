#pragma once

// The change handling that every kind shares: a move of a shown item writes
// its `x` and `y` (plus `offset`, for kinds whose stored corner is not their
// position), a z change writes `z`, hidden or not. Hidden items are still
// being loaded, and writing their position back would be an echo.

#include "skrinitem.h"

#include <QGraphicsItem>

inline void storeCommonChange(SkrinItem *item, QGraphicsItem::GraphicsItemChange change, QPointF offset = {})
{
    const QGraphicsItem *graphics = item->graphicsItem();
    if (change == QGraphicsItem::ItemPositionHasChanged) {
        if (!graphics->isVisible())
            return;
        item->storeMember(QStringLiteral("x"), graphics->x() + offset.x(), true);
        item->storeMember(QStringLiteral("y"), graphics->y() + offset.y(), true);
    } else if (change == QGraphicsItem::ItemZValueHasChanged) {
        item->storeMember(QStringLiteral("z"), graphics->zValue(), true);
    }
}
