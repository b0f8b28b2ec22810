#include "skrinpen.h"

#include "annotationlooks.h"
#include "itemchange_p.h"
#include "paintcache_p.h"
#include "paintlimits.h"
#include "polygondata.h"

#include <QPainter>
#include <QStringTokenizer>

namespace {
const QString memberX = QStringLiteral("x");
const QString memberY = QStringLiteral("y");
const QString memberZ = QStringLiteral("z");
const QString memberData = QStringLiteral("data");
const QString memberPenSize = QStringLiteral("pen_size");
const QString memberColor = QStringLiteral("color");
} // namespace

SkrinPen::SkrinPen(Id id, SkrinHost *skrin, const QString &members)
    : SkrinItem(id, skrin)
    , QGraphicsPolygonItem(nullptr)
{
    hide();
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsScenePositionChanges);
    for (const QStringView name : QStringTokenizer(members, u','))
        coloured = coloured || name.trimmed() == memberColor;
    setSmooth(QStringLiteral("x,y"));
    watchMembers(members);
    updateCacheMode();
}

void SkrinPen::setPaintCache(CacheMode mode)
{
    paintCache = mode;
    updateCacheMode();
}

void SkrinPen::updateCacheMode()
{
    setBoundedCacheMode(this, paintCache);
}

void SkrinPen::init()
{
    setX(clampCoordinate(memberReal(memberX)));
    setY(clampCoordinate(memberReal(memberY)));
    setZValue(finiteReal(member(memberZ)));
    setPolygonFromData(member(memberData));
    QPen stroke(QBrush(Qt::black), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    stroke.setWidthF(clampPenWidth(memberReal(memberPenSize)));
    if (coloured)
        stroke.setColor(color(memberColor));
    setPen(stroke);
    updateCacheMode();
    show();
}

void SkrinPen::set(const QString &member, const QVariant &value)
{
    if (member == memberX)
        setX(clampCoordinate(value.toReal()));
    if (member == memberY)
        setY(clampCoordinate(value.toReal()));
    if (member == memberZ)
        setZValue(finiteReal(value));
    if (member == memberData)
        setPolygonFromData(value);
    if (member == memberPenSize) {
        QPen stroke = pen();
        stroke.setWidthF(clampPenWidth(value.toReal()));
        setPen(stroke);
        updateCacheMode();
    }
    if (member == memberColor) {
        QPen stroke = pen();
        stroke.setColor(variantToColor(value));
        setPen(stroke);
    }
}

void SkrinPen::setPolygonFromData(const QVariant &data)
{
    setStroke(dataToPolygon(data));
}

void SkrinPen::writeData()
{
    storeMember(memberData, polygonToData(polygon()), true);
}

void SkrinPen::drawTo(QPointF scenePos)
{
    QPolygonF points = polygon();
    const QPointF p = clampPoint(mapFromScene(scenePos));
    points.append(p);
    // Drawing only appends, which only widens the bounds: no recount of a
    // long stroke on every move (QRectF::united would skip the empty
    // rectangle of a single point).
    const QRectF widened = points.size() == 1
                               ? QRectF(p, p)
                               : QRectF(QPointF(qMin(pointBounds.left(), p.x()), qMin(pointBounds.top(), p.y())),
                                        QPointF(qMax(pointBounds.right(), p.x()), qMax(pointBounds.bottom(), p.y())));
    setStroke(points, &widened);
    writeData();
}

void SkrinPen::setStroke(const QPolygonF &points, const QRectF *bounds)
{
    prepareGeometryChange();
    // Points from the store may differ anywhere: they are counted afresh.
    pointBounds = bounds ? *bounds : points.boundingRect();
    setPolygon(points);
    updateCacheMode();
}

QRectF SkrinPen::boundingRect() const
{
    const QPolygonF &points = polygon();
    if (points.isEmpty())
        return QRectF();
    // Round caps and joins never reach further than half the pen from a point.
    const double half = pen().widthF() / 2;
    return pointBounds.adjusted(-half, -half, half, half);
}

QPainterPath SkrinPen::shape() const
{
    QPainterPath path;
    if (polygon().size() == 1)
        path.addEllipse(boundingRect());
    else
        path = QGraphicsPolygonItem::shape();
    return path;
}

void SkrinPen::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    paintStroke(painter, polygon(), pen());
    paintSelectionFrame(painter, option, boundingRect());
}

QVariant SkrinPen::itemChange(GraphicsItemChange change, const QVariant &value)
{
    storeCommonChange(this, change);
    return QGraphicsPolygonItem::itemChange(change, value);
}
