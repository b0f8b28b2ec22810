#pragma once

#include "skrinellipse.h"

// An outlined ellipse: the outline of width pen_size lies outside the stored rectangle.
class SkrinEllipseFrame : public SkrinEllipse
{
public:
    SkrinEllipseFrame(Id id, SkrinHost *skrin)
        : SkrinEllipse(id, skrin, true)
    {
    }
};
