#include "screengrabber.h"

#include "capturelog.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

bool isAllBlack(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] & 0x00ffffffu)
                return false;
        }
    }
    return true;
}

// X11, the offscreen platform, Windows and macOS hand out the desktop's
// pixels through QScreen::grabWindow(0).
class QScreenGrabber final : public ScreenGrabber
{
public:
    QList<ScreenGrab> grabScreens() override
    {
        QList<ScreenGrab> grabs;
        const QList<QScreen *> screens = QGuiApplication::screens();
        for (QScreen *screen : screens) {
            const QRect geometry = screen->geometry();
            // grabWindow takes coordinates relative to the screen.
            QPixmap pixmap = screen->grabWindow(0, 0, 0, geometry.width(), geometry.height());
            if (pixmap.isNull())
                qCWarning(lcCapture) << "screen" << screen->name() << "gave an empty grab";
            grabs.append({geometry, pixmap});
        }
        return grabs;
    }
};

// A session whose compositor keeps the screen to itself (Wayland): reading
// it would give nothing or a black picture, so nothing is read.
class NullGrabber final : public ScreenGrabber
{
public:
    QList<ScreenGrab> grabScreens() override { return {}; }
};

} // namespace

std::unique_ptr<ScreenGrabber> ScreenGrabber::forPlatform(const QString &platformName)
{
    if (platformName.startsWith(QLatin1String("wayland"), Qt::CaseInsensitive)) {
        qCInfo(lcCapture) << "no screen grabbing on" << platformName;
        return std::make_unique<NullGrabber>();
    }
    return std::make_unique<QScreenGrabber>();
}

bool isUnreadableGrab(const QList<ScreenGrab> &grabs, const QString &platformName)
{
    if (grabs.isEmpty()
        || std::any_of(grabs.cbegin(), grabs.cend(), [](const ScreenGrab &grab) { return grab.pixmap.isNull(); }))
        return true;
    // An X11 program under a Wayland compositor reads black screens.
    if (platformName == QLatin1String("xcb") && isWaylandSession()
        && std::all_of(grabs.cbegin(), grabs.cend(), [](const ScreenGrab &grab) { return isAllBlack(grab.pixmap); })) {
        qCWarning(lcCapture) << "the screen reads as black in a Wayland session";
        return true;
    }
    return false;
}
