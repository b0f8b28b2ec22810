#pragma once

// The tool bar's Crop button: switches the selected picture between crop and resize.

#include "custombutton.h"

class CropButton : public CustomButton
{
    Q_OBJECT
public:
    using CustomButton::CustomButton;

protected:
    void onClick() override;
};
