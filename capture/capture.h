#pragma once

// The capture services the rest of the program uses.

#include "shooter.h"

#include <QObject>

#include <concepts>

// Whether a capture is running now.
bool isCaptureRunning();
// Ends a running capture without a picture (the program is closing).
void cancelCapture();

// Starts a precise capture whose picture goes to `slot` of `receiver`, a
// SLOT() text taking a QPixmap. False (and nothing starts) while a capture is
// running or without a receiver. With keepWindows false the program's
// windows are hidden for the grab and shown again afterwards.
bool shootPrecise(QObject *receiver, const char *slot, bool keepWindows);

// A new shooter for the platform, or null while a capture runs. Used by the
// typed form below; start it with its start().
Shooter *newPreciseShooter();

// The same with a typed slot: a pointer to a member function taking a
// QPixmap, or any callable, run with `receiver` as its context (a deleted
// receiver gets nothing).
template <typename Receiver, typename Slot>
    requires std::derived_from<Receiver, QObject> && (!std::convertible_to<Slot, const char *>)
bool shootPrecise(Receiver *receiver, Slot slot, bool keepWindows)
{
    if (!receiver)
        return false;
    Shooter *shooter = newPreciseShooter();
    if (!shooter)
        return false;
    QObject::connect(shooter, &Shooter::shot, receiver, slot);
    shooter->start(keepWindows);
    return true;
}
