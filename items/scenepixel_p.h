#pragma once

// Length in an item's own units of one pixel of a view, or of the first view
// showing the item's scene; 1.0 without a scene or a view. Keeps lines one
// screen pixel wide at any zoom, also in items that ignore the view's scale.

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsView>

#include <cmath>

inline double viewPixelIn(const QGraphicsItem *item, const QGraphicsView *view)
{
    const QTransform toView = item->deviceTransform(view->viewportTransform());
    const double scale = std::hypot(toView.m11(), toView.m12());
    return scale > 0.0 && std::isfinite(scale) ? 1.0 / scale : 1.0;
}

inline double scenePixelSize(const QGraphicsItem *item)
{
    const QGraphicsScene *scene = item ? item->scene() : nullptr;
    if (!scene || scene->views().isEmpty())
        return 1.0;
    return viewPixelIn(item, scene->views().constFirst());
}
