#include "fontbutton.h"

#include "mainwindowhost.h"

#include <QWheelEvent>

void FontButton::wheelEvent(QWheelEvent *event)
{
    event->accept();
    MainWindowHost *window = MainWindowHost::instance();
    const int step = wheelStep(event);
    if (!window || step == 0)
        return;
    const double value = currentFont.pointSizeF() + step;
    window->applyFontSize(qBound(8.0, value, 60.0));
}
