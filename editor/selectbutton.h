#pragma once

// The tool bar's Select button: switches between view mode and the Select tool.

#include "custombutton.h"

class SelectButton : public CustomButton
{
    Q_OBJECT
public:
    using CustomButton::CustomButton;

protected:
    void onClick() override;
};
