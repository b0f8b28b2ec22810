#pragma once

// A note pinned to a point of the screenshot (table "skrin_pin"): a pin icon
// in the pin's colour and, above it, a note box with editable text. Pins are
// remarks for the viewer, not part of the picture, and stay usable in view
// mode, where a press opens the note.

#include "skrinitem.h"

#include <QGraphicsItem>
#include <QPixmap>

class SkrinPinText;

class SkrinPin : public SkrinItem, public QGraphicsItem
{
public:
    SkrinPin(Id id, SkrinHost *skrin);
    ~SkrinPin() override;

    QGraphicsItem *graphicsItem() override { return this; }
    SkrinPinText *note() const { return noteItem; }

    void drawTo(QPointF) override {}
    void setTool(int tool) override;
    bool isPartOfPicture() const override { return false; }

    // Shows a hidden note or hides a shown one and stores `opened`.
    void toggleNote();
    // Centres the note over the icon, its bottom 20 units below the icon's top.
    void placeNote();
    // Stores the note's text as `data`.
    void storeNoteText();

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

    void init() override;
    void set(const QString &member, const QVariant &value) override;

private:
    void tintIcon(const QColor &colour);
    void applyNoteText(const QVariant &value);

    SkrinPinText *noteItem = nullptr;
    QPixmap icon;
    QColor pinColor;
};
