#pragma once

// A straight line between two points of the item (begin and end), reshaped
// with a handle on each end and moved with a third in its middle.

#include "dotmanager.h"
#include "skrinitem.h"

#include <QGraphicsLineItem>

class SkrinLine : public SkrinItem, public QGraphicsLineItem, public DotManager
{
public:
    enum Handle { Begin = 0, End = 1, Middle = 2 };

    SkrinLine(Id id, SkrinHost *skrin);
    ~SkrinLine() override;

    QGraphicsItem *graphicsItem() override { return this; }
    QRectF boundingRect() const override;

    // The end point follows the pointer while the line is drawn.
    void drawTo(QPointF scenePos) override;
    void selectionCountChanged(int selectedCount) override;

protected:
    void init() override;
    void set(const QString &member, const QVariant &value) override;
    void dotMoved(int index, const QPointF &position) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    // How painting is cached (not at all by default).
    void setPaintCache(CacheMode mode);

private:
    void placeMiddleDot();
    void setGeometry(const QLineF &newLine, const QPen &newPen);

    CacheMode paintCache = NoCache;
};
