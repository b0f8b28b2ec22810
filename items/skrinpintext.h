#pragma once

// The note box of a pin: plain text in a white rounded box, edited after a
// double click, with a close cross shown while the pointer is over it.

#include <QGraphicsTextItem>

class SkrinPin;
class SkrinPinTextClose;

class SkrinPinText : public QGraphicsTextItem
{
    Q_OBJECT

public:
    SkrinPinText();

    SkrinPin *pin() const { return pinItem; }
    // Keeps the pin and becomes its child item.
    void setPin(SkrinPin *pin);
    SkrinPinTextClose *closeButton() const { return closeItem; }

    // Shows a stored text, cut to what can be shown; a cut text is neither
    // edited nor stored.
    void setStoredText(const QString &text);
    bool isTextCut() const { return textCut; }

    bool isEditing() const;
    void startEditing(bool selectAll);
    void stopEditing();
    // Puts the cross 2 units inside the box's top-right corner.
    void placeClose();

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;

private:
    void textEdited();

    SkrinPin *pinItem = nullptr;
    SkrinPinTextClose *closeItem = nullptr;
    bool textCut = false;
    int marginLeft = 5;
    int marginTop = 5;
    int marginRight = 5;
    int marginBottom = 5;
};
