#pragma once

// How the desktop is read: the one platform-dependent step of a capture.

#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <memory>

// The frozen picture of one screen. `geometry` is the screen's place on the
// virtual desktop in device-independent pixels; the pixmap carries the
// screen's device pixel ratio.
struct ScreenGrab
{
    QRect geometry;
    QPixmap pixmap;
};

class ScreenGrabber
{
public:
    virtual ~ScreenGrabber() = default;

    // One entry per screen. An empty list, or an entry with a null pixmap,
    // means that the platform does not let the program read the screen.
    virtual QList<ScreenGrab> grabScreens() = 0;

    // The grabber for a Qt platform plug-in name ("xcb", "offscreen",
    // "wayland", ...). Platforms known to refuse screen reads (Wayland) get
    // the null grabber, which reads nothing.
    static std::unique_ptr<ScreenGrabber> forPlatform(const QString &platformName);
};

// Whether a grab on the platform shows nothing of the desktop: no screens,
// a null picture, or, for an X11 program in a Wayland session, nothing but
// black.
bool isUnreadableGrab(const QList<ScreenGrab> &grabs, const QString &platformName);
