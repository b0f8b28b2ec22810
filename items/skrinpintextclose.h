#pragma once

// The small cross in a pin note's corner that closes the note.

#include <QGraphicsItem>

class SkrinPinText;

class SkrinPinTextClose : public QGraphicsItem
{
public:
    explicit SkrinPinTextClose(SkrinPinText *note);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;

private:
    SkrinPinText *note;
};
