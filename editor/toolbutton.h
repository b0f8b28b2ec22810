#pragma once

// A tool bar button that makes its annotation tool the current one.

#include "custombutton.h"

class ToolButton : public CustomButton
{
    Q_OBJECT
public:
    explicit ToolButton(int toolId, QWidget *parent = nullptr)
        : CustomButton(parent)
        , toolId(toolId)
    {
    }
    int tool() const { return toolId; }

protected:
    void onClick() override;

private:
    int toolId;
};
