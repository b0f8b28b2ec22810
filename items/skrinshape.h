#pragma once

// The rectangle and ellipse annotations, filled or framed, reshaped with
// nine handles. Both kinds share everything but the figure they draw, so
// they share this template over their graphics base (QGraphicsRectItem or
// QGraphicsEllipseItem).
//
// The stored x, y, w, h are the figure's rectangle inside its outline, in
// scene coordinates; a frame's outline lies wholly outside it. The handles
// frame the outer rectangle (the figure's grown by the pen width).

#include "dotrect.h"
#include "skrinitem.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsRectItem>

template <class Figure>
class SkrinShape : public SkrinItem, public Figure, public DotRect
{
public:
    SkrinShape(Id id, SkrinHost *skrin, bool frame);
    ~SkrinShape() override;

    bool isFrame() const { return frame; }
    QGraphicsItem *graphicsItem() override { return this; }

    // The bottom-right handle follows the pointer while the figure is drawn.
    void drawTo(QPointF scenePos) override;
    void selectionCountChanged(int selectedCount) override;

    // DotRect: the outer rectangle, and a new outer rectangle from the handles.
    QRectF rect() const override;
    void setRect(const QRectF &outer) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void init() override;
    void set(const QString &member, const QVariant &value) override;
    QVariant itemChange(QGraphicsItem::GraphicsItemChange change, const QVariant &value) override;

private:
    static constexpr bool isEllipse = std::is_same_v<Figure, QGraphicsEllipseItem>;

    double penWidth() const { return Figure::pen().widthF(); }
    QRectF outerRect() const;
    // Brings a rectangle moved off the item origin by a handle drag back to
    // it, the position taking up the difference, so stored values apply as is.
    void anchorAtOrigin();

    const bool frame;
};

extern template class SkrinShape<QGraphicsRectItem>;
extern template class SkrinShape<QGraphicsEllipseItem>;
