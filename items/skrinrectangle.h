#pragma once

#include "skrinshape.h"

// A filled rectangle (or, built with frame true, an outlined one).
class SkrinRectangle : public SkrinShape<QGraphicsRectItem>
{
public:
    SkrinRectangle(Id id, SkrinHost *skrin, bool frame = false)
        : SkrinShape(id, skrin, frame)
    {
    }
};
