#pragma once

// A freehand stroke: the points of the row's `data` (item coordinates)
// painted as one open polyline with a round-capped pen. The marker and the
// blur are strokes of the same family that paint differently.

#include "skrinitem.h"

#include <QGraphicsPolygonItem>
#include <QStringList>

class SkrinPen : public SkrinItem, public QGraphicsPolygonItem
{
public:
    // `members`: the comma-separated members the item watches.
    SkrinPen(Id id, SkrinHost *skrin, const QString &members);

    QGraphicsItem *graphicsItem() override { return this; }

    void setPolygonFromData(const QVariant &data);
    // Stores the current points as the row's `data`.
    void writeData();

    // Appends the pointer's position to the stroke being drawn.
    void drawTo(QPointF scenePos) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void init() override;
    void set(const QString &member, const QVariant &value) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

    // Replaces the points and keeps the cached bounds in step: `bounds`,
    // when given, are the points' bounds already known to the caller.
    void setStroke(const QPolygonF &points, const QRectF *bounds = nullptr);
    // How painting is cached (device pixels by default).
    void setPaintCache(CacheMode mode);

private:
    void updateCacheMode();

    CacheMode paintCache = DeviceCoordinateCache;

    bool coloured = false; // whether the row has a colour (a blur has none)
    // Bounds of the points alone; the stroke's bounds add half the pen.
    QRectF pointBounds;
};
