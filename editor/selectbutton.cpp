#include "selectbutton.h"

#include "mainwindowhost.h"

void SelectButton::onClick()
{
    if (MainWindowHost *window = MainWindowHost::instance())
        window->toggleEditMode();
}
