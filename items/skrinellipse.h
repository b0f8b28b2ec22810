#pragma once

#include "skrinshape.h"

// A filled ellipse (or, built with frame true, an outlined one).
class SkrinEllipse : public SkrinShape<QGraphicsEllipseItem>
{
public:
    SkrinEllipse(Id id, SkrinHost *skrin, bool frame = false)
        : SkrinShape(id, skrin, frame)
    {
    }
};
