#pragma once

// The full-screen window of a capture on one screen: it shows the screen's
// frozen picture, dims everything outside the selection, frames the
// selection with its size, and passes the user's input to its Shooter.

#include "screengrabber.h"

#include <QWidget>

class ExactPointer;
class Shooter;

class ShooterOverlay : public QWidget
{
    Q_OBJECT

public:
    ShooterOverlay(Shooter *shooter, const ScreenGrab &grab);

    QRect screenGeometry() const { return frozen.geometry; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QPointF desktopPosition(const QMouseEvent *event) const;
    void paintFrame(QPainter &painter, const QRectF &selection);
    void paintSizeLabel(QPainter &painter, const QRect &selection);

    Shooter *shooter;
    ScreenGrab frozen;
    ExactPointer *pointer = nullptr;
};
