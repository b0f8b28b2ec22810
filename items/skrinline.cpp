#include "skrinline.h"

#include "dot.h"
#include "itemchange_p.h"
#include "paintcache_p.h"
#include "paintlimits.h"

#include <QPen>

namespace {
const QString memberX = QStringLiteral("x");
const QString memberY = QStringLiteral("y");
const QString memberZ = QStringLiteral("z");
const QString memberBeginX = QStringLiteral("begin_x");
const QString memberBeginY = QStringLiteral("begin_y");
const QString memberEndX = QStringLiteral("end_x");
const QString memberEndY = QStringLiteral("end_y");
const QString memberPenSize = QStringLiteral("pen_size");
const QString memberColor = QStringLiteral("color");
} // namespace

SkrinLine::SkrinLine(Id id, SkrinHost *skrin)
    : SkrinItem(id, skrin)
    , QGraphicsLineItem(nullptr)
    , DotManager(this)
{
    hide();
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsScenePositionChanges);
    setDotCount(3);
    setDotKind(Middle, Dot::Cross);
    for (int i = Begin; i <= Middle; ++i)
        setDotCursor(i, Qt::SizeAllCursor);
    setSmooth(QStringLiteral("x,y,begin_x,begin_y,end_x,end_y"));
    watchMembers(QStringLiteral("x,y,z,begin_x,begin_y,end_x,end_y,pen_size,color"));
}

SkrinLine::~SkrinLine() = default;

void SkrinLine::init()
{
    setPos(clampCoordinate(memberReal(memberX)), clampCoordinate(memberReal(memberY)));
    setZValue(finiteReal(member(memberZ)));
    setGeometry(QLineF(clampPoint(QPointF(memberReal(memberBeginX), memberReal(memberBeginY))),
                       clampPoint(QPointF(memberReal(memberEndX), memberReal(memberEndY)))),
                QPen(QBrush(color(memberColor)), clampPenWidth(memberReal(memberPenSize)), Qt::SolidLine,
                     Qt::RoundCap, Qt::RoundJoin));
    setDotPos(Begin, line().p1());
    setDotPos(End, line().p2());
    placeMiddleDot();
    show();
}

void SkrinLine::set(const QString &member, const QVariant &value)
{
    const double real = clampCoordinate(value.toReal());
    QLineF current = line();
    if (member == memberX) {
        setX(real);
    } else if (member == memberY) {
        setY(real);
    } else if (member == memberZ) {
        setZValue(finiteReal(value));
    } else if (member == memberPenSize) {
        QPen stroke = pen();
        stroke.setWidthF(clampPenWidth(value.toReal()));
        setGeometry(current, stroke);
    } else if (member == memberColor) {
        QPen stroke = pen();
        stroke.setColor(variantToColor(value));
        setGeometry(current, stroke);
    } else if (member == memberBeginX || member == memberBeginY) {
        QPointF begin = current.p1();
        (member == memberBeginX ? begin.rx() : begin.ry()) = real;
        current.setP1(begin);
        setGeometry(current, pen());
        setDotPos(Begin, begin);
    } else if (member == memberEndX || member == memberEndY) {
        QPointF end = current.p2();
        (member == memberEndX ? end.rx() : end.ry()) = real;
        current.setP2(end);
        setGeometry(current, pen());
        setDotPos(End, end);
    }
}

void SkrinLine::drawTo(QPointF scenePos)
{
    moveDot(End, mapFromScene(scenePos));
}

void SkrinLine::dotMoved(int index, const QPointF &position)
{
    const QPointF p = clampPoint(position);
    QLineF current = line();
    if (index == Middle) {
        setPos(pos() + (p - current.center()));
        return;
    }
    if (index == Begin) {
        storeMember(memberBeginX, p.x(), true);
        storeMember(memberBeginY, p.y(), true);
        current.setP1(p);
        setGeometry(current, pen());
        setDotPos(Begin, p);
    } else if (index == End) {
        storeMember(memberEndX, p.x(), true);
        storeMember(memberEndY, p.y(), true);
        current.setP2(p);
        setGeometry(current, pen());
        setDotPos(End, p);
    }
    placeMiddleDot();
}

// The line widened by half the pen on every side, its caps being round:
// what stroking the line would give, found without stroking it.
QRectF SkrinLine::boundingRect() const
{
    const QLineF current = line();
    const double half = pen().widthF() / 2.0;
    return QRectF(current.p1(), current.p2()).normalized().adjusted(-half, -half, half, half);
}

void SkrinLine::setGeometry(const QLineF &newLine, const QPen &newPen)
{
    setLine(newLine);
    setPen(newPen);
    setBoundedCacheMode(this, paintCache);
}

void SkrinLine::setPaintCache(CacheMode mode)
{
    paintCache = mode;
    setBoundedCacheMode(this, paintCache);
}

void SkrinLine::placeMiddleDot()
{
    const QLineF current = line();
    setDotPos(Middle, current.p1() + (current.p2() - current.p1()) * 0.5);
}

void SkrinLine::selectionCountChanged(int selectedCount)
{
    if (isSelected())
        setDotsVisible(selectedCount == 1);
}

QVariant SkrinLine::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged && !value.toBool())
        setDotsVisible(false);
    storeCommonChange(this, change);
    return QGraphicsLineItem::itemChange(change, value);
}
