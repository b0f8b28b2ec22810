#pragma once

// Owns the handles of one graphics item (their parent) and hears their drags
// through dotMoved. Every operation taking an index ignores indexes out of
// range and missing handles.
//
// Most annotations are never selected alone, so their handles are made only
// when first needed (shown, or asked for through dot()); until then the
// manager keeps where each one stands, its kind and its cursor, and hands
// them on when it makes them.

#include <QPointF>
#include <QVector>

class Dot;
class QGraphicsItem;

class DotManager
{
public:
    explicit DotManager(QGraphicsItem *owner);
    virtual ~DotManager();

    DotManager(const DotManager &) = delete;
    DotManager &operator=(const DotManager &) = delete;

    // Replaces the handles by n new hidden circles.
    void setDotCount(int n);
    int dotCount() const { return int(states.size()); }
    // The handle, made (with every other one) if it does not exist yet.
    Dot *dot(int index) const;
    int indexOf(const Dot *handle) const;

    void setDotVisible(int index, bool visible);
    void setDotsVisible(bool visible);
    void setDotKind(int index, int kind);
    void setDotsKind(int kind);
    void setDotCursor(int index, Qt::CursorShape shape);
    // Places a handle (owner coordinates) without telling anyone.
    void setDotPos(int index, const QPointF &position);
    // Places a handle and reports it as moved, as a drag would.
    void moveDot(int index, const QPointF &position);
    void notifyDotMoved(Dot *handle, const QPointF &position);
    // Lets a handle go without deleting it.
    void removeDot(Dot *handle);

    QGraphicsItem *dotOwner() const { return owner; }

protected:
    // A handle asks to go to `position` (owner coordinates).
    virtual void dotMoved(int index, const QPointF &position);

private:
    // What a handle carries before it exists, and what it is given when made.
    struct DotState
    {
        QPointF position;
        int kind = 0;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        bool hasCursor = false;
    };

    bool dotsMade() const { return !dots.isEmpty(); }
    void makeDots() const;
    void deleteDots();

    QVector<DotState> states;
    // Empty until made, then one per state.
    mutable QVector<Dot *> dots;
    QGraphicsItem *owner;
};
