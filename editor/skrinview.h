#pragma once

// The editor's view of the open screenshot. Its scene is in stored picture
// pixels, and the view shows one of them on one device pixel on any screen:
// a capture looks as it did on the screen, and rows mean the same at every
// density. The scene hears the pointer where it really is: a view pixel is
// several picture pixels on a denser screen, and every one of them can be
// drawn on; and what it shows stays where it is while the scene grows under
// a drag. Besides what CustomView reports it tells when a delete key went
// unhandled: the main window then deletes the screenshot itself (in view
// mode).

#include "customview.h"

class ExactPointer;

class SkrinView : public CustomView
{
    Q_OBJECT
public:
    explicit SkrinView(QWidget *parent = nullptr);

    // QGraphicsView::setScene, and the view starts watching the scene (its
    // mouse events, its growth); a new scene is centred afresh. Scenes must
    // be set through this class.
    void setScene(QGraphicsScene *scene);

signals:
    // Plain Delete or Backspace that neither the scene nor an item accepted.
    void delKey();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Scales the view to the density of the screen it is on now.
    void followPixelRatio();
    // Puts the scene's pixels on whole device pixels.
    void alignToDevicePixels();
    QPointF devicePixelOffset() const;
    QPointF exactScenePos() const;
    // From the first press on, the scene rectangle shown only grows evenly
    // about its centre.
    void holdPlace();
    void growAround(const QRectF &grown);

    ExactPointer *const exactPointer;
    qreal shownRatio = 1.0;
    bool aligning = false;
    bool alignmentQueued = false;
    QPointF pointer; // the last mouse event's place on the viewport, unrounded
    QPointF lastScenePos; // where the scene last heard the pointer
    QPointF pressScenePos; // and where it heard the last press
    Qt::MouseButton pressButton = Qt::NoButton;
    bool placeHeld = false;
};
