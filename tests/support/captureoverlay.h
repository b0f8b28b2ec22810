#pragma once

// The visible overlay of a running capture, waited for up to 5 s; null when
// none appears. For tests that link the capture library.

#include "shooteroverlay.h"

#include <QApplication>
#include <QTest>

inline ShooterOverlay *waitForCaptureOverlay()
{
    ShooterOverlay *found = nullptr;
    const bool shown = QTest::qWaitFor(
        [&found] {
            const QList<QWidget *> windows = QApplication::topLevelWidgets();
            for (QWidget *widget : windows) {
                if (auto *overlay = qobject_cast<ShooterOverlay *>(widget); overlay && overlay->isVisible())
                    found = overlay;
            }
            return found != nullptr;
        },
        5000);
    return shown ? found : nullptr;
}
