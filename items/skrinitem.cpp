#include "skrinitem.h"

#include "scenepixel_p.h"
#include "skrinhost.h"

#include <QGraphicsView>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

SkrinItem::SkrinItem(Id id, SkrinHost *skrin)
    : Item(id)
    , skrin(skrin)
{
}

void SkrinItem::drawTo(QPointF) {}
void SkrinItem::selectionCountChanged(int) {}
void SkrinItem::setTool(int) {}

bool SkrinItem::isPartOfPicture() const
{
    return true;
}

QGraphicsView *SkrinItem::view() const
{
    return skrin ? skrin->view() : nullptr;
}

void SkrinItem::markSkrinChanged()
{
    if (skrin && isPartOfPicture())
        skrin->setModified();
}

void SkrinItem::storeMember(const QString &member, const QVariant &value, bool markChanged)
{
    Item::setMember(member, value);
    if (markChanged)
        markSkrinChanged();
}

void SkrinItem::setMember(const QString &member, const QVariant &value, bool local, bool markChanged)
{
    Item::setMember(member, value, local);
    if (markChanged)
        markSkrinChanged();
}

void SkrinItem::setColor(const QString &member, const QColor &colour, bool markChanged)
{
    Item::setColor(member, colour);
    if (markChanged)
        markSkrinChanged();
}

void SkrinItem::setFileMember(const QString &member, const QByteArray &data, bool markChanged)
{
    Item::setFileMember(member, data);
    if (markChanged)
        markSkrinChanged();
}

void SkrinItem::writeFileMember(const QString &member, const QByteArray &data, bool markChanged)
{
    Item::writeFileMember(member, data);
    if (markChanged)
        markSkrinChanged();
}

double SkrinItem::viewPixelSize() const
{
    const QGraphicsView *v = view();
    if (!v)
        return 1.0;
    // Through the item's own transformations: a pin ignores the view's scale.
    return viewPixelIn(const_cast<SkrinItem *>(this)->graphicsItem(), v);
}

void SkrinItem::paintSelectionFrame(QPainter *painter, const QStyleOptionGraphicsItem *option, const QRectF &rect)
{
    if (!painter || !painter->isActive() || !option || !(option->state & QStyle::State_Selected))
        return;
    if (rect.width() == 0 && rect.height() == 0)
        return;
    const double s = viewPixelSize();
    const QRectF inset(rect.x() + s / 2, rect.y() + s / 2, rect.width() - s, rect.height() - s);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(Qt::white, s, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawRect(inset);
    painter->setPen(QPen(Qt::black, s, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawRect(inset);
}
