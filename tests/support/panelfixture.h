#pragma once

// Shared by the tests of the panels over the editor view: finding a panel's
// button and dragging a panel.

#include "custombutton.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

inline CustomButton *buttonWithTip(QWidget &panel, const QString &tip)
{
    for (CustomButton *button : panel.findChildren<CustomButton *>())
        if (button->toolTip() == tip)
            return button;
    return nullptr;
}

// The option buttons the bar shows, by tool tip, space-separated.
inline QString shownOptions(QWidget &bar)
{
    QStringList tips;
    for (const char *tip : {"Color", "Pen size", "Crop", "Font"})
        if (!buttonWithTip(bar, QString::fromLatin1(tip))->isHidden())
            tips << QString::fromLatin1(tip);
    return tips.join(QLatin1Char(' '));
}

// Press, one move with the button held, release: positions in the widget.
inline void drag(QWidget *widget, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(widget, button, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), widget->mapToGlobal(QPointF(to)), Qt::NoButton, button,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QTest::mouseRelease(widget, button, {}, to);
}
