#pragma once

// One precise capture: freezes the desktop, lets the user drag out a
// rectangle on a full-screen overlay over every screen, and hands the cut-out
// picture over. Esc or the right button cancels. The shooter deletes itself
// when the capture ends, whichever way it ends.

#include "screengrabber.h"

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <memory>

class ShooterOverlay;

class Shooter : public QObject
{
    Q_OBJECT

public:
    explicit Shooter(std::unique_ptr<ScreenGrabber> grabber, QObject *parent = nullptr);
    ~Shooter() override;

    // Starts the capture. With keepWindows false the program's visible
    // windows are hidden first and shown again when the capture ends.
    void start(bool keepWindows);

    // The rectangle dragged so far, in virtual-desktop coordinates: its edges
    // are those of the device pixels it takes. Empty while nothing is dragged.
    QRectF selection() const { return selected; }
    // The size the picture will have, in device pixels.
    QSize selectionPixelSize() const;
    QList<ShooterOverlay *> overlays() const { return screens; }

    // The overlays' input, in virtual-desktop coordinates as exact as the
    // pointer gives them: on a denser screen a device pixel is a fraction of
    // a coordinate.
    void press(const QPointF &global, Qt::MouseButton button);
    void moveTo(const QPointF &global);
    void release(const QPointF &global, Qt::MouseButton button);
    void cancel();

signals:
    // The chosen picture, in device pixels (device pixel ratio 1).
    void shot(const QPixmap &pixmap);
    // The capture ended: confirmed, cancelled or impossible.
    void finished();

private:
    // One device pixel of one screen's grab.
    struct ScreenPixel
    {
        qsizetype screen = -1;
        QPoint pixel;
        bool operator==(const ScreenPixel &) const = default;
    };

    void grabAndShow();
    void finish(const QPixmap &result);
    // The pixel under a desktop point; past the desktop's edge, the last
    // pixel of the nearest screen.
    ScreenPixel pixelAt(const QPointF &global) const;
    // A pixel's square in desktop coordinates.
    QRectF pixelArea(const ScreenPixel &at) const;
    // The pixels from `from` to `to`, both taken, when they lie on one screen.
    static QRect pixelsBetween(const ScreenPixel &from, const ScreenPixel &to);
    void setSelection(const QRectF &area);
    QPixmap cut() const;
    void restoreWindows();

    std::unique_ptr<ScreenGrabber> grabber;
    QList<ScreenGrab> grabs;
    QList<ShooterOverlay *> screens;
    QList<QPointer<QWidget>> hiddenWindows;
    QPointer<QWidget> activeWindow;
    QRectF selected;
    ScreenPixel anchor;
    ScreenPixel corner;
    bool dragging = false;
    bool ended = false;
};
