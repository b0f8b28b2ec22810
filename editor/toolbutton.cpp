#include "toolbutton.h"

#include "mainwindowhost.h"

void ToolButton::onClick()
{
    if (MainWindowHost *window = MainWindowHost::instance())
        window->setSkrinTool(toolId);
}
