#pragma once

// A line with a filled head at its end point, three pen widths long and two
// wide. A line of length zero has no head and paints nothing.

#include "skrinline.h"

class SkrinArrow : public SkrinLine
{
public:
    SkrinArrow(Id id, SkrinHost *skrin);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
};
