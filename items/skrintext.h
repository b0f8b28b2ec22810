#pragma once

// A block of plain text in one font and colour on the screenshot (table
// "skrin_text"). Double-click (with a drawing tool) or the scene's change-text
// operation starts editing, Escape or leaving it ends it; every change of the
// text is written to the row, and a text left empty goes.

#include "skrinitem.h"

#include <QGraphicsTextItem>
#include <QPen>

class SkrinText : public QGraphicsTextItem, public SkrinItem
{
    Q_OBJECT

public:
    SkrinText(Id id, SkrinHost *skrin);
    ~SkrinText() override;

    QGraphicsItem *graphicsItem() override { return this; }

    bool isEditing() const;
    void startEditing(bool selectAll);
    void stopEditing();

    void setTool(int tool) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

    void init() override;
    void set(const QString &member, const QVariant &value) override;

private slots:
    void contentsChanged();

private:
    void applyFontMember(const QString &member, const QVariant &value);
    void applyText(const QVariant &value);

    int tool = 0;
    QPen outlinePen;
    bool stopping = false;
    bool textCut = false; // the stored text is longer than what is shown
};
