#pragma once

#include "skrinrectangle.h"

// An outlined rectangle: the outline of width pen_size lies outside the stored rectangle.
class SkrinRectangleFrame : public SkrinRectangle
{
public:
    SkrinRectangleFrame(Id id, SkrinHost *skrin)
        : SkrinRectangle(id, skrin, true)
    {
    }
};
