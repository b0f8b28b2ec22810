#pragma once

// Length in scene units of one pixel of the first view showing an item's
// scene; 1.0 without a scene or a view. Keeps lines one screen pixel wide at
// any zoom.

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsView>

inline double scenePixelSize(const QGraphicsItem *item)
{
    const QGraphicsScene *scene = item ? item->scene() : nullptr;
    if (!scene || scene->views().isEmpty())
        return 1.0;
    const QGraphicsView *view = scene->views().constFirst();
    return view->mapToScene(QRect(0, 0, 1, 1)).boundingRect().width();
}
