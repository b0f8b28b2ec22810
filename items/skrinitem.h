#pragma once

// Base of every annotation shown on a screenshot's scene: one stored row
// (through Item) and one graphics item (the kind's second base). It reports
// changes of the picture to the owning scene and offers the scene four
// operations it calls on any kind.

#include "item.h"

#include <QPointF>
#include <QRectF>

class QGraphicsItem;
class QGraphicsView;
class QPainter;
class QStyleOptionGraphicsItem;
class SkrinHost;

class SkrinItem : public Item
{
public:
    // `skrin` may be null: such an item reports nothing and measures one
    // screen pixel as 1.0.
    SkrinItem(Id id, SkrinHost *skrin);

    // The graphics part of the kind (each kind returns `this`).
    virtual QGraphicsItem *graphicsItem() = 0;

    // The item being drawn follows the pointer.
    virtual void drawTo(QPointF scenePos);
    // The scene's selection changed; called on each selected annotation.
    virtual void selectionCountChanged(int selectedCount);
    // The scene's tool changed (0 is view mode).
    virtual void setTool(int tool);
    // Whether the item belongs to the rendered picture.
    virtual bool isPartOfPicture() const;

    SkrinHost *host() const { return skrin; }
    // The owning scene's first view, or null.
    QGraphicsView *view() const;
    // Tells the owning scene that the picture changed (picture items only).
    void markSkrinChanged();

    // Writers: the Item operation, then markSkrinChanged when markChanged is
    // true, whether or not the store was written.
    void storeMember(const QString &member, const QVariant &value, bool markChanged);
    void setMember(const QString &member, const QVariant &value, bool local, bool markChanged);
    void setColor(const QString &member, const QColor &colour, bool markChanged);
    void setFileMember(const QString &member, const QByteArray &data, bool markChanged);
    void writeFileMember(const QString &member, const QByteArray &data, bool markChanged);
    using Item::setColor;
    using Item::setFileMember;
    using Item::setMember;
    using Item::writeFileMember;

    // The item's units per pixel of the first view; 1.0 without a view.
    double viewPixelSize() const;
    // A one-screen-pixel dotted frame just inside `rect` when painted selected.
    void paintSelectionFrame(QPainter *painter, const QStyleOptionGraphicsItem *option, const QRectF &rect);

private:
    SkrinHost *const skrin;
};
