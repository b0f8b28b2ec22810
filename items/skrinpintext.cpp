#include "skrinpintext.h"

#include "scenepixel_p.h"
#include "showntext_p.h"
#include "skrinpin.h"
#include "skrinpintextclose.h"

#include <QCursor>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QTextCursor>

SkrinPinText::SkrinPinText()
    : QGraphicsTextItem(nullptr)
{
    setFlag(ItemIsSelectable);
    setAcceptHoverEvents(true);
    setCursor(Qt::PointingHandCursor);
    closeItem = new SkrinPinTextClose(this);
    placeClose();
}

void SkrinPinText::setPin(SkrinPin *pin)
{
    pinItem = pin;
    if (pin)
        setParentItem(pin);
}

void SkrinPinText::setStoredText(const QString &text)
{
    showStoredText(document(), text, &textCut);
    if (textCut)
        stopEditing();
}

bool SkrinPinText::isEditing() const
{
    return textInteractionFlags() != Qt::NoTextInteraction;
}

void SkrinPinText::startEditing(bool selectAll)
{
    if (isEditing() || textCut)
        return;
    setTextInteractionFlags(Qt::TextEditorInteraction);
    if (selectAll) {
        QTextCursor cursor = textCursor();
        cursor.select(QTextCursor::Document);
        setTextCursor(cursor);
        setCursor(Qt::IBeamCursor);
    }
    setFocus(Qt::OtherFocusReason);
}

void SkrinPinText::stopEditing()
{
    if (isEditing())
        setTextInteractionFlags(Qt::NoTextInteraction);
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        cursor.clearSelection();
        setTextCursor(cursor);
    }
    setCursor(Qt::PointingHandCursor);
    if (pinItem) {
        pinItem->placeNote();
        pinItem->storeNoteText();
    }
}

void SkrinPinText::placeClose()
{
    const QRectF box = boundingRect();
    const QRectF cross = closeItem->boundingRect();
    closeItem->setPos(box.right() - cross.right() - 2, box.top() - cross.top() + 2);
}

QRectF SkrinPinText::boundingRect() const
{
    const QRectF text = QGraphicsTextItem::boundingRect();
    return QRectF(text.x() - marginLeft, text.y() - marginTop - 10, text.width() + marginLeft + marginRight + 10,
                  text.height() + marginTop + marginBottom + 10);
}

QPainterPath SkrinPinText::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

void SkrinPinText::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *widget)
{
    const double pixel = scenePixelSize(this);
    const QRectF box = boundingRect();
    painter->setBrush(Qt::white);
    painter->setPen(QPen(Qt::black, pixel * 0.5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    // The 10-unit band at the top and on the right gives the cross room.
    painter->drawRoundedRect(QRectF(box.x(), box.y() + 10, box.width() - 10, box.height() - 10), 3.0, 3.0);
    const QStyleOptionGraphicsItem plain;
    QGraphicsTextItem::paint(painter, &plain, widget);
}

void SkrinPinText::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (!isEditing())
        startEditing(true);
    QGraphicsTextItem::mouseDoubleClickEvent(event);
}

void SkrinPinText::keyPressEvent(QKeyEvent *event)
{
    QGraphicsTextItem::keyPressEvent(event);
    textEdited();
}

void SkrinPinText::inputMethodEvent(QInputMethodEvent *event)
{
    QGraphicsTextItem::inputMethodEvent(event);
    textEdited();
}

void SkrinPinText::textEdited()
{
    // The box may have grown or shrunk.
    if (pinItem) {
        pinItem->placeNote();
        pinItem->storeNoteText();
    }
}

void SkrinPinText::focusOutEvent(QFocusEvent *event)
{
    setTextInteractionFlags(Qt::NoTextInteraction);
    QGraphicsTextItem::focusOutEvent(event);
    stopEditing();
}

void SkrinPinText::hoverEnterEvent(QGraphicsSceneHoverEvent *event)
{
    QGraphicsTextItem::hoverEnterEvent(event);
    closeItem->setVisible(true);
}

void SkrinPinText::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    QGraphicsTextItem::hoverLeaveEvent(event);
    closeItem->setVisible(false);
}
