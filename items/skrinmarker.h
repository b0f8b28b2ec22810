#pragma once

// A highlighter stroke: the pen's stroke painted at alpha 0.3, as one
// polyline, so crossings do not darken.

#include "skrinpen.h"

class SkrinMarker : public SkrinPen
{
public:
    SkrinMarker(Id id, SkrinHost *skrin);

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
};
