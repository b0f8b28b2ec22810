#pragma once

// The least annotation kind, for tests of the item base and the scene: a
// 20 by 10 box following the row's x, y and z and writing its own moves back
// as every kind does. `pin` makes it a kind outside the picture.

#include "skrinhost.h"
#include "skrinitem.h"

#include <QGraphicsRectItem>

class TestBox : public SkrinItem, public QGraphicsRectItem
{
public:
    TestBox(Id id, SkrinHost *skrin, bool pin = false)
        : SkrinItem(id, skrin)
        , QGraphicsRectItem(0, 0, 20, 10)
        , pin(pin)
    {
        setFlags(ItemIsSelectable | ItemIsMovable | ItemSendsGeometryChanges);
        watchMembers(QStringLiteral("x,y,z"));
    }

    ~TestBox() override
    {
        // Kinds may speak to their scene while they go (a text ending its edit).
        if (host())
            host()->notifyTextEditChanged(false);
    }

    QGraphicsItem *graphicsItem() override { return this; }
    bool isPartOfPicture() const override { return !pin; }
    void setTool(int tool) override { tools.append(tool); }

    QList<int> tools;

protected:
    void init() override
    {
        setPos(memberReal(QStringLiteral("x")), memberReal(QStringLiteral("y")));
        setZValue(memberReal(QStringLiteral("z")));
    }

    void set(const QString &member, const QVariant &value) override
    {
        if (member == QLatin1String("x"))
            setX(value.toReal());
        else if (member == QLatin1String("y"))
            setY(value.toReal());
        else if (member == QLatin1String("z"))
            setZValue(value.toReal());
    }

    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override
    {
        if (change == ItemPositionHasChanged && isVisible()) {
            storeMember(QStringLiteral("x"), x(), true);
            storeMember(QStringLiteral("y"), y(), true);
        } else if (change == ItemZValueHasChanged) {
            storeMember(QStringLiteral("z"), zValue(), true);
        }
        return QGraphicsRectItem::itemChange(change, value);
    }

private:
    const bool pin;
};
