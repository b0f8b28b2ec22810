#include "screengrabber.h"

#include "capturelog.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

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
