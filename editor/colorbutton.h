#pragma once

// The tool bar's Color button: it only opens its menu of colours.

#include "custombutton.h"

class ColorButton : public CustomButton
{
    Q_OBJECT
public:
    using CustomButton::CustomButton;
};
