#pragma once

// One precise capture: freezes the desktop, lets the user drag out a
// rectangle on a full-screen overlay over every screen, and hands the cut-out
// picture over. Esc or the right button cancels. The shooter deletes itself
// when the capture ends, whichever way it ends.

#include "screengrabber.h"

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
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

    // The rectangle dragged so far, in virtual-desktop coordinates; empty
    // while nothing is dragged.
    QRect selection() const { return selected; }
    // The size the picture will have, in device pixels.
    QSize selectionPixelSize() const;
    QList<ShooterOverlay *> overlays() const { return screens; }

    // The overlays' input, in virtual-desktop coordinates.
    void press(const QPoint &global, Qt::MouseButton button);
    void moveTo(const QPoint &global);
    void release(const QPoint &global, Qt::MouseButton button);
    void cancel();

signals:
    // The chosen picture, in device pixels (device pixel ratio 1).
    void shot(const QPixmap &pixmap);
    // The capture ended: confirmed, cancelled or impossible.
    void finished();

private:
    void grabAndShow();
    void finish(const QPixmap &result);
    void setSelection(const QRect &area);
    QPixmap cut(const QRect &area) const;
    void restoreWindows();

    std::unique_ptr<ScreenGrabber> grabber;
    QList<ScreenGrab> grabs;
    QList<ShooterOverlay *> screens;
    QList<QPointer<QWidget>> hiddenWindows;
    QPointer<QWidget> activeWindow;
    QRect desktop;
    QRect selected;
    QPoint anchor;
    bool dragging = false;
    bool ended = false;
};
