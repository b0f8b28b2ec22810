#include "dotrect.h"

#include "dot.h"

#include <QGraphicsItem>

namespace {

bool carriesLeft(int index)
{
    return index == DotRect::TopLeft || index == DotRect::LeftMiddle || index == DotRect::BottomLeft;
}

bool carriesRight(int index)
{
    return index == DotRect::TopRight || index == DotRect::RightMiddle || index == DotRect::BottomRight;
}

bool carriesTop(int index)
{
    return index == DotRect::TopLeft || index == DotRect::TopMiddle || index == DotRect::TopRight;
}

bool carriesBottom(int index)
{
    return index == DotRect::BottomLeft || index == DotRect::BottomMiddle || index == DotRect::BottomRight;
}

// One axis of the minimum-size rule. `start`/`size` are the rectangle's left
// and width (or top and height); `movesStart` tells whether the dragged
// handle carries the start edge.
void enforceMinimum(double &start, double &size, double minimum, bool movesStart, bool flippable)
{
    if (!flippable) {
        if (size < minimum) {
            if (movesStart)
                start -= minimum - size;
            size = minimum;
        }
        return;
    }
    if (qAbs(size) < minimum) {
        // The dragged edge jumps past the fixed one, one unit beyond the minimum.
        if (movesStart)
            start = (start + size) + minimum + 1;
        size = -(minimum + 1);
    }
}

} // namespace

DotRect::DotRect(QGraphicsItem *owner)
    : DotManager(owner)
{
    setDotCount(9);
    setDotKind(Centre, Dot::Cross);
}

DotRect::~DotRect() = default;

void DotRect::updateDots()
{
    placeDots(rect());
}

void DotRect::placeDots(const QRectF &r)
{
    if (r == placed)
        return;
    const double x = r.x(), y = r.y(), w = r.width(), h = r.height();
    setDotPos(TopLeft, QPointF(x, y));
    setDotPos(TopMiddle, QPointF((x + (x + w)) / 2, y));
    setDotPos(TopRight, QPointF(x + w, y));
    setDotPos(LeftMiddle, QPointF(x, (y + (y + h)) / 2));
    setDotPos(RightMiddle, QPointF(x + w, (y + (y + h)) / 2));
    setDotPos(BottomLeft, QPointF(x, y + h));
    setDotPos(BottomMiddle, QPointF((x + (x + w)) / 2, y + h));
    setDotPos(BottomRight, QPointF(x + w, y + h));
    setDotPos(Centre, QPointF(x + w / 2, y + h / 2));

    // A rectangle turned over along one axis swaps the diagonal shapes.
    const bool turned = (w < 0) != (h < 0);
    const Qt::CursorShape falling = turned ? Qt::SizeBDiagCursor : Qt::SizeFDiagCursor;
    const Qt::CursorShape rising = turned ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    setDotCursor(TopLeft, falling);
    setDotCursor(TopMiddle, Qt::SizeVerCursor);
    setDotCursor(TopRight, rising);
    setDotCursor(LeftMiddle, Qt::SizeHorCursor);
    setDotCursor(RightMiddle, Qt::SizeHorCursor);
    setDotCursor(BottomLeft, rising);
    setDotCursor(BottomMiddle, Qt::SizeVerCursor);
    setDotCursor(BottomRight, falling);
    setDotCursor(Centre, Qt::SizeAllCursor);
    placed = r;
}

QRectF DotRect::rect() const
{
    return QRectF();
}

void DotRect::setRect(const QRectF &)
{
}

void DotRect::dotMoved(int index, const QPointF &p)
{
    // The owner's setRect may lead back here; that nested move is dropped.
    if (busy)
        return;
    busy = true;

    double x = placed.x(), y = placed.y(), w = placed.width(), h = placed.height();
    if (index == Centre) {
        x = p.x() - w * 0.5;
        y = p.y() - h * 0.5;
    } else {
        if (carriesLeft(index)) {
            const double d = p.x() - x;
            x += d;
            w -= d;
        } else if (carriesRight(index)) {
            w = p.x() - x;
        }
        if (carriesTop(index)) {
            const double d = p.y() - y;
            y += d;
            h -= d;
        } else if (carriesBottom(index)) {
            h = p.y() - y;
        }
    }
    enforceMinimum(x, w, minWidth, carriesLeft(index), flippable);
    enforceMinimum(y, h, minHeight, carriesTop(index), flippable);

    const QRectF q(x, y, w, h);
    setRect(q.normalized());

    // The handles follow what the owner now holds, keeping the drag's
    // orientation so the dragged handle stays under the pointer.
    QRectF r = rect();
    if (q.width() < 0)
        r = QRectF(r.x() + r.width(), r.y(), -r.width(), r.height());
    if (q.height() < 0)
        r = QRectF(r.x(), r.y() + r.height(), r.width(), -r.height());
    placeDots(r);
    busy = false;
}
