#pragma once

// One resize handle: a small marker of constant on-screen size, a child of the
// item it reshapes. A drag does not move the handle itself; it reports where
// the handle should go to its manager, which decides and places it.

#include <QGraphicsItem>

class DotManager;
class QGraphicsView;

class Dot : public QGraphicsItem
{
public:
    enum Kind { Circle = 0, Square = 1, Cross = 2 };

    Dot(QGraphicsItem *parent, DotManager *manager);
    ~Dot() override;

    int kind() const { return dotKind; }
    void setKind(int kind);
    // Forgets the manager when it is `manager`; a handle without one ignores drags.
    void releaseManager(DotManager *manager);
    QGraphicsView *view() const;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    DotManager *manager = nullptr;
    int dotKind = Circle;
    // Set by a left press on this handle, cleared by the left release: only
    // such a drag reshapes, whatever other buttons come and go meanwhile.
    bool leftDrag = false;
    // Where the left press caught the handle, in its own coordinates. Moves
    // are measured from the scene position: the event's item-relative
    // positions go stale once another button is pressed during the drag.
    QPointF grabOffset;
};
