#include "shooter.h"

#include "capturelog.h"
#include "shooteroverlay.h"

#include <QApplication>
#include <QCursor>
#include <QLineF>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Time for the window system to take hidden windows, and the menu that
// started the capture, off the screen before the desktop is read.
const int hideDelayMs = 250;
// Bounds of the size label's place around the selection.
const int labelRoomX = 200;
const int labelRoomY = 60;

bool isHideableWindow(const QWidget *widget)
{
    if (!widget->isWindow() || !widget->isVisible())
        return false;
    const Qt::WindowType type = widget->windowType();
    return type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop;
}

} // namespace

Shooter::Shooter(std::unique_ptr<ScreenGrabber> screenGrabber, QObject *parent)
    : QObject(parent)
    , grabber(std::move(screenGrabber))
{
}

Shooter::~Shooter()
{
    qDeleteAll(screens);
    restoreWindows();
}

void Shooter::start(bool keepWindows)
{
    // The overlay takes the keyboard; the window that had it gets it back.
    activeWindow = QApplication::activeWindow();
    if (!keepWindows) {
        const QList<QWidget *> windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            if (isHideableWindow(window)) {
                hiddenWindows.append(window);
                window->hide();
            }
        }
    }
    // Kept windows wait as well: a menu closed just now would otherwise be
    // frozen into the picture.
    QTimer::singleShot(hideDelayMs, this, &Shooter::grabAndShow);
}

void Shooter::grabAndShow()
{
    if (ended)
        return;
    grabs = grabber ? grabber->grabScreens() : QList<ScreenGrab>();
    if (isUnreadableGrab(grabs, QGuiApplication::platformName())) {
        qCWarning(lcCapture) << "the desktop could not be read; no capture";
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Pellimore"),
                                    tr("The screen could not be captured: this desktop session does not let "
                                       "programs read the screen (Wayland sessions keep it private). "
                                       "Start Pellimore in an X11 session to take screenshots."));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setObjectName(QStringLiteral("captureFailedMessage"));
        finish(QPixmap());
        box->open();
        return;
    }

    const QPoint cursor = QCursor::pos();
    ShooterOverlay *focused = nullptr;
    for (const ScreenGrab &grab : std::as_const(grabs)) {
        auto *overlay = new ShooterOverlay(this, grab);
        screens.append(overlay);
        if (!focused || grab.geometry.contains(cursor))
            focused = overlay;
    }
    for (ShooterOverlay *overlay : std::as_const(screens)) {
        overlay->show();
        overlay->raise();
    }
    focused->activateWindow();
    focused->setFocus(Qt::ActiveWindowFocusReason);
    // Esc must reach the overlay even where the window manager gives an
    // unmanaged window no focus.
    focused->grabKeyboard();
}

Shooter::ScreenPixel Shooter::pixelAt(const QPointF &global) const
{
    ScreenPixel at;
    double nearest = std::numeric_limits<double>::infinity();
    QPointF onScreen;
    for (qsizetype i = 0; i < grabs.size(); ++i) {
        const QRectF area(grabs.at(i).geometry);
        const QPointF inside(std::clamp(global.x(), area.left(), area.right()),
                             std::clamp(global.y(), area.top(), area.bottom()));
        const double distance = QLineF(global, inside).length();
        if (distance < nearest) {
            nearest = distance;
            at.screen = i;
            onScreen = inside - area.topLeft();
        }
    }
    if (at.screen < 0)
        return at;
    const QPixmap &pixmap = grabs.at(at.screen).pixmap;
    const double ratio = pixmap.devicePixelRatio();
    // A pointer on a pixel's corner names that pixel, even where the way to
    // desktop coordinates and back left it a hair short of it.
    constexpr double hair = 1e-6;
    const auto index = [ratio](double coordinate, int pixels) {
        return std::clamp(int(std::floor(coordinate * ratio + hair)), 0, std::max(0, pixels - 1));
    };
    at.pixel = QPoint(index(onScreen.x(), pixmap.width()), index(onScreen.y(), pixmap.height()));
    return at;
}

QRectF Shooter::pixelArea(const ScreenPixel &at) const
{
    const ScreenGrab &grab = grabs.at(at.screen);
    const double ratio = grab.pixmap.devicePixelRatio();
    return QRectF(QPointF(grab.geometry.topLeft()) + QPointF(at.pixel) / ratio, QSizeF(1.0, 1.0) / ratio);
}

QRect Shooter::pixelsBetween(const ScreenPixel &from, const ScreenPixel &to)
{
    if (from.screen != to.screen)
        return QRect();
    return QRect(QPoint(std::min(from.pixel.x(), to.pixel.x()), std::min(from.pixel.y(), to.pixel.y())),
                 QPoint(std::max(from.pixel.x(), to.pixel.x()), std::max(from.pixel.y(), to.pixel.y())));
}

QSize Shooter::selectionPixelSize() const
{
    if (selected.isEmpty())
        return QSize();
    if (anchor.screen == corner.screen)
        return pixelsBetween(anchor, corner).size();
    // Across screens: the finest density of those it touches.
    double ratio = 1.0;
    for (const ScreenGrab &grab : grabs) {
        if (QRectF(grab.geometry).intersects(selected))
            ratio = std::max(ratio, grab.pixmap.devicePixelRatio());
    }
    return (selected.size() * ratio).toSize();
}

void Shooter::press(const QPointF &global, Qt::MouseButton button)
{
    if (ended)
        return;
    if (button == Qt::RightButton) {
        cancel();
        return;
    }
    if (button != Qt::LeftButton)
        return;
    dragging = true;
    anchor = pixelAt(global);
    setSelection(QRectF());
}

void Shooter::moveTo(const QPointF &global)
{
    if (ended || !dragging || anchor.screen < 0)
        return;
    // A drag takes both the device pixel where it started and the one under
    // the pointer, whatever the screen's density; the pointer stops on the
    // last pixel of the desktop, so a drag to the corner takes the whole
    // screen. It chooses nothing until it has left its first pixel.
    corner = pixelAt(global);
    if (corner == anchor) {
        setSelection(QRectF());
        return;
    }
    setSelection(pixelArea(anchor).united(pixelArea(corner)));
}

void Shooter::release(const QPointF &global, Qt::MouseButton button)
{
    if (ended || button != Qt::LeftButton || !dragging)
        return;
    moveTo(global);
    dragging = false;
    // A click without a drag chooses nothing: wait for a real rectangle.
    if (selected.isEmpty()) {
        setSelection(QRectF());
        return;
    }
    finish(cut());
}

void Shooter::cancel()
{
    if (!ended)
        finish(QPixmap());
}

void Shooter::setSelection(const QRectF &area)
{
    // Only what changed is painted again: the old and the new frame with room
    // for the size label beside them. Large screens stay smooth.
    const QRect changed =
        selected.united(area).toAlignedRect().adjusted(-labelRoomX, -labelRoomY, labelRoomX, labelRoomY);
    selected = area;
    for (ShooterOverlay *overlay : std::as_const(screens))
        overlay->update(changed.translated(-overlay->screenGeometry().topLeft()));
}

QPixmap Shooter::cut() const
{
    // On one screen: the screen's own pixels, untouched.
    if (anchor.screen == corner.screen) {
        QPixmap part = grabs.at(anchor.screen).pixmap.copy(pixelsBetween(anchor, corner));
        part.setDevicePixelRatio(1.0);
        return part;
    }
    // Across screens: one picture at the finest screen's density.
    const QSize size = selectionPixelSize();
    const double ratio = size.width() / std::max(1e-9, selected.width());
    QPixmap picture(size);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    for (const ScreenGrab &grab : grabs) {
        const QRectF part = QRectF(grab.geometry).intersected(selected);
        if (part.isEmpty())
            continue;
        const double grabRatio = grab.pixmap.devicePixelRatio();
        const QRectF target((part.topLeft() - selected.topLeft()) * ratio, part.size() * ratio);
        const QRectF source((part.topLeft() - QPointF(grab.geometry.topLeft())) * grabRatio, part.size() * grabRatio);
        painter.drawPixmap(target, grab.pixmap, source);
    }
    return picture;
}

void Shooter::finish(const QPixmap &result)
{
    if (ended)
        return;
    ended = true;
    for (ShooterOverlay *overlay : std::as_const(screens)) {
        overlay->releaseKeyboard();
        overlay->hide();
    }
    restoreWindows();
    if (!result.isNull())
        emit shot(result);
    emit finished();
    deleteLater();
}

void Shooter::restoreWindows()
{
    for (const QPointer<QWidget> &window : std::as_const(hiddenWindows)) {
        if (window)
            window->show();
    }
    hiddenWindows.clear();
    if (activeWindow) {
        activeWindow->raise();
        activeWindow->activateWindow();
    }
    activeWindow = nullptr;
}
