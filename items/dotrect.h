#pragma once

// Nine handles on a rectangle: corners, edge middles and the centre. A handle
// drag becomes a new rectangle (edges follow the handle, a minimum size holds,
// and a flippable rectangle turns over past its opposite edge), which the
// owner applies through setRect and reports back through rect.

#include "dotmanager.h"

#include <QRectF>

class DotRect : public DotManager
{
public:
    enum Handle {
        TopLeft, TopMiddle, TopRight, LeftMiddle, RightMiddle,
        BottomLeft, BottomMiddle, BottomRight, Centre
    };

    explicit DotRect(QGraphicsItem *owner);
    ~DotRect() override;

    void setMinimumWidth(double width) { minWidth = width; }
    void setMinimumHeight(double height) { minHeight = height; }
    double minimumWidth() const { return minWidth; }
    double minimumHeight() const { return minHeight; }
    void setFlippable(bool on) { flippable = on; }

    // The rectangle the handles stand on, normalised.
    QRectF dotsRect() const { return placed.normalized(); }
    // Puts the handles on rect(); owners call it after any outside change.
    virtual void updateDots();
    void placeDots(const QRectF &r);

    // The owner's rectangle in its own coordinates, as the handles frame it.
    virtual QRectF rect() const;
    // The owner applies a (normalised) rectangle chosen through the handles.
    virtual void setRect(const QRectF &r);

protected:
    void dotMoved(int index, const QPointF &position) override;

private:
    bool busy = false;
    QRectF placed;
    double minWidth = 0.0;
    double minHeight = 0.0;
    bool flippable = false;
};
