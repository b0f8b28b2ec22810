#pragma once

// A window's pixels as its screen shows them.

#include "pictures.h"

#include <QCoreApplication>
#include <QTest>
#include <QWidget>

// The window in device pixels. QWidget::grab paints as the window's backing
// store does, each widget at its place in the window, which on a 1.25x or
// 1.5x screen may be a fraction of a device pixel: a widget grabbed alone
// would show how it paints at the window's corner instead.
inline QImage windowPixels(QWidget *window)
{
    QCoreApplication::processEvents();
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Where `colour` first shows in the window once what it shows has settled (a
// painting may leave work that moves it), or (-1, -1).
inline QPoint settledPlace(QWidget *window, QRgb colour)
{
    QPoint place(-1, -1);
    const bool settled = QTest::qWaitFor([&] {
        const QPoint before = place;
        place = findColour(windowPixels(window), colour);
        return place.x() >= 0 && place == before;
    });
    return settled ? place : QPoint(-1, -1);
}
