#include "skrinshape.h"

#include "itemchange_p.h"
#include "paintlimits.h"
#include "annotationlooks.h"

#include <QPainter>

#include <cmath>

namespace {
const QString memberX = QStringLiteral("x");
const QString memberY = QStringLiteral("y");
const QString memberZ = QStringLiteral("z");
const QString memberW = QStringLiteral("w");
const QString memberH = QStringLiteral("h");
const QString memberColor = QStringLiteral("color");
const QString memberPenSize = QStringLiteral("pen_size");

// Widths and heights may be negative (a wide frame's handles allow it);
// only their magnitude is bounded.
double rowLength(const QVariant &value)
{
    return clampCoordinate(value.toReal());
}
} // namespace

template <class Figure>
SkrinShape<Figure>::SkrinShape(Id id, SkrinHost *skrin, bool frame)
    : SkrinItem(id, skrin)
    , Figure(nullptr)
    , DotRect(this)
    , frame(frame)
{
    Figure::hide();
    Figure::setFlags(QGraphicsItem::ItemIsMovable | QGraphicsItem::ItemIsSelectable
                     | QGraphicsItem::ItemIsFocusable | QGraphicsItem::ItemSendsScenePositionChanges);
    setSmooth(QStringLiteral("x,y,w,h"));
    watchMembers(frame ? QStringLiteral("x,y,z,w,h,color,pen_size") : QStringLiteral("x,y,z,w,h,color"));
    setFlippable(true);
    setMinimumWidth(10.0);
    setMinimumHeight(10.0);
}

template <class Figure>
SkrinShape<Figure>::~SkrinShape() = default;

template <class Figure>
void SkrinShape<Figure>::init()
{
    Figure::setPos(clampCoordinate(memberReal(memberX)), clampCoordinate(memberReal(memberY)));
    Figure::setZValue(finiteReal(member(memberZ)));
    Figure::setRect(QRectF(0, 0, rowLength(member(memberW)), rowLength(member(memberH))));
    const QColor colour = color(memberColor);
    if (frame) {
        Figure::setPen(QPen(QBrush(colour), clampPenWidth(memberReal(memberPenSize)), Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        Figure::setBrush(Qt::NoBrush);
    } else {
        QPen none(Qt::NoPen);
        none.setWidthF(0.0);
        Figure::setPen(none);
        Figure::setBrush(colour);
    }
    updateDots();
    Figure::show();
}

template <class Figure>
void SkrinShape<Figure>::set(const QString &member, const QVariant &value)
{
    if (member == memberZ) {
        Figure::setZValue(finiteReal(value));
    } else if (member == memberX) {
        anchorAtOrigin();
        Figure::setX(clampCoordinate(value.toReal()));
        updateDots();
    } else if (member == memberY) {
        anchorAtOrigin();
        Figure::setY(clampCoordinate(value.toReal()));
        updateDots();
    } else if (member == memberW) {
        anchorAtOrigin();
        Figure::setRect(QRectF(0, 0, rowLength(value), Figure::rect().height()));
        updateDots();
    } else if (member == memberH) {
        anchorAtOrigin();
        Figure::setRect(QRectF(0, 0, Figure::rect().width(), rowLength(value)));
        updateDots();
    } else if (frame && member == memberPenSize) {
        QPen outline = Figure::pen();
        outline.setWidthF(clampPenWidth(value.toReal()));
        Figure::setPen(outline);
        updateDots();
    } else if (member == memberColor) {
        if (frame) {
            QPen outline = Figure::pen();
            outline.setColor(variantToColor(value));
            Figure::setPen(outline);
        } else {
            Figure::setBrush(variantToColor(value));
        }
    }
}

template <class Figure>
void SkrinShape<Figure>::anchorAtOrigin()
{
    const QRectF figure = Figure::rect();
    if (std::abs(figure.x()) <= 1e-12 && std::abs(figure.y()) <= 1e-12)
        return;
    Figure::setRect(QRectF(QPointF(0, 0), figure.size()));
    Figure::setPos(Figure::pos() + figure.topLeft());
}

template <class Figure>
void SkrinShape<Figure>::drawTo(QPointF scenePos)
{
    moveDot(BottomRight, Figure::mapFromScene(scenePos));
}

template <class Figure>
void SkrinShape<Figure>::selectionCountChanged(int selectedCount)
{
    if (Figure::isSelected())
        setDotsVisible(selectedCount == 1);
}

template <class Figure>
QRectF SkrinShape<Figure>::outerRect() const
{
    const double p = penWidth();
    return Figure::rect().adjusted(-p, -p, p, p);
}

template <class Figure>
QRectF SkrinShape<Figure>::rect() const
{
    return outerRect();
}

template <class Figure>
void SkrinShape<Figure>::setRect(const QRectF &outer)
{
    const double p = penWidth();
    Figure::setRect(outer.adjusted(p, p, -p, -p));
    const QRectF figure = Figure::rect();
    storeMember(memberW, figure.width(), true);
    storeMember(memberH, figure.height(), true);
    storeMember(memberX, Figure::x() + figure.left(), true);
    storeMember(memberY, Figure::y() + figure.top(), true);
}

template <class Figure>
QRectF SkrinShape<Figure>::boundingRect() const
{
    // A frame shrunk below its pen turns inside out and paints beyond its
    // handles' rectangle; the bounds hold both.
    return outerRect().normalized().united(figureBounds(Figure::rect(), penWidth()));
}

template <class Figure>
QPainterPath SkrinShape<Figure>::shape() const
{
    // The inside hits as well, for a frame too.
    QPainterPath path;
    if constexpr (isEllipse)
        path.addEllipse(outerRect());
    else
        path.addRect(outerRect());
    return path;
}

template <class Figure>
void SkrinShape<Figure>::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    paintFigure(painter, isEllipse ? FigureKind::Ellipse : FigureKind::Rectangle, Figure::rect(), Figure::pen(),
                Figure::brush());
    paintSelectionFrame(painter, option, outerRect());
}

template <class Figure>
QVariant SkrinShape<Figure>::itemChange(QGraphicsItem::GraphicsItemChange change, const QVariant &value)
{
    if (change == QGraphicsItem::ItemSelectedHasChanged && !value.toBool())
        setDotsVisible(false);
    // The stored corner is the figure's, which a handle drag moves off the origin.
    storeCommonChange(this, change, Figure::rect().topLeft());
    return Figure::itemChange(change, value);
}

template class SkrinShape<QGraphicsRectItem>;
template class SkrinShape<QGraphicsEllipseItem>;
