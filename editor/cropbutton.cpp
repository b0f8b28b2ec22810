#include "cropbutton.h"

#include "mainwindowhost.h"

void CropButton::onClick()
{
    if (MainWindowHost *window = MainWindowHost::instance())
        window->toggleImageCropResize();
}
