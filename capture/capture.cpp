#include "capture.h"

#include "capturelog.h"

#include <QGuiApplication>
#include <QPointer>

namespace {

QPointer<Shooter> runningShooter;

} // namespace

bool isCaptureRunning()
{
    return !runningShooter.isNull();
}

void cancelCapture()
{
    if (runningShooter)
        runningShooter->cancel();
}

Shooter *newPreciseShooter()
{
    if (isCaptureRunning()) {
        qCInfo(lcCapture) << "a capture is already running";
        return nullptr;
    }
    auto *shooter = new Shooter(ScreenGrabber::forPlatform(QGuiApplication::platformName()));
    runningShooter = shooter;
    // Over once the picture is handed on or the capture cancelled, even
    // though the shooter itself goes a moment later.
    QObject::connect(shooter, &Shooter::finished, shooter, [] { runningShooter = nullptr; });
    return shooter;
}

bool shootPrecise(QObject *receiver, const char *slot, bool keepWindows)
{
    if (!receiver || !slot)
        return false;
    Shooter *shooter = newPreciseShooter();
    if (!shooter)
        return false;
    if (!QObject::connect(shooter, SIGNAL(shot(QPixmap)), receiver, slot)) {
        qCWarning(lcCapture) << "cannot deliver a capture to" << slot;
        delete shooter;
        return false;
    }
    shooter->start(keepWindows);
    return true;
}
