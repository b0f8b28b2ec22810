#include "shooter.h"

#include "capturelog.h"
#include "shooteroverlay.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>

#include <algorithm>

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
        desktop = desktop.united(grab.geometry);
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

QSize Shooter::selectionPixelSize() const
{
    qreal ratio = 1.0;
    for (const ScreenGrab &grab : grabs) {
        if (grab.geometry.intersects(selected))
            ratio = std::max(ratio, grab.pixmap.devicePixelRatio());
    }
    return selected.size() * ratio;
}

void Shooter::press(const QPoint &global, Qt::MouseButton button)
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
    anchor = global;
    setSelection(QRect());
}

void Shooter::moveTo(const QPoint &global)
{
    if (ended || !dragging)
        return;
    // The pointer stops on the last pixel of the desktop, so a drag covers
    // both the pixel where it started and the one under the pointer: a drag
    // to the corner takes the whole screen. It chooses nothing until it has
    // left its first pixel.
    const QPoint corner(std::clamp(global.x(), desktop.left(), desktop.right()),
                        std::clamp(global.y(), desktop.top(), desktop.bottom()));
    if (corner == anchor) {
        setSelection(QRect());
        return;
    }
    setSelection(QRect(QPoint(std::min(anchor.x(), corner.x()), std::min(anchor.y(), corner.y())),
                       QPoint(std::max(anchor.x(), corner.x()), std::max(anchor.y(), corner.y()))));
}

void Shooter::release(const QPoint &global, Qt::MouseButton button)
{
    if (ended || button != Qt::LeftButton || !dragging)
        return;
    moveTo(global);
    dragging = false;
    // A click without a drag chooses nothing: wait for a real rectangle.
    if (selected.isEmpty()) {
        setSelection(QRect());
        return;
    }
    finish(cut(selected));
}

void Shooter::cancel()
{
    if (!ended)
        finish(QPixmap());
}

void Shooter::setSelection(const QRect &area)
{
    // Only what changed is painted again: the old and the new frame with room
    // for the size label beside them. Large screens stay smooth.
    const QRect changed = selected.united(area).adjusted(-labelRoomX, -labelRoomY, labelRoomX, labelRoomY);
    selected = area;
    for (ShooterOverlay *overlay : std::as_const(screens))
        overlay->update(changed.translated(-overlay->screenGeometry().topLeft()));
}

QPixmap Shooter::cut(const QRect &area) const
{
    // Inside one screen: the screen's own pixels, untouched.
    for (const ScreenGrab &grab : grabs) {
        if (!grab.geometry.contains(area))
            continue;
        const qreal ratio = grab.pixmap.devicePixelRatio();
        const QRect source(QPoint(qRound((area.x() - grab.geometry.x()) * ratio),
                                  qRound((area.y() - grab.geometry.y()) * ratio)),
                           area.size() * ratio);
        QPixmap part = grab.pixmap.copy(source);
        part.setDevicePixelRatio(1.0);
        return part;
    }
    // Across screens: one picture at the finest screen's density.
    const QSize size = selectionPixelSize();
    const qreal ratio = qreal(size.width()) / std::max(1, area.width());
    QPixmap picture(size);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    for (const ScreenGrab &grab : grabs) {
        const QRect part = grab.geometry.intersected(area);
        if (part.isEmpty())
            continue;
        const qreal grabRatio = grab.pixmap.devicePixelRatio();
        const QRectF target(QPointF(part.topLeft() - area.topLeft()) * ratio, QSizeF(part.size()) * ratio);
        const QRectF source(QPointF(part.topLeft() - grab.geometry.topLeft()) * grabRatio,
                            QSizeF(part.size()) * grabRatio);
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
