#pragma once

// A picture pasted onto a screenshot (table "skrin_image"): the part
// `src_x`, `src_y`, `src_w`, `src_h` of a stored file, scaled into `w` by `h`
// at `x`, `y`. Nine handles reshape it: in resize mode they scale the shown
// part, in crop mode they move its edges over the whole, darkened picture.

#include "dotrect.h"
#include "skrinitem.h"

#include <QGraphicsItem>
#include <QPixmap>

class SkrinImage : public SkrinItem, public QGraphicsItem, public DotRect
{
public:
    enum Mode { NoMode = 0, CropMode = 1, ResizeMode = 2 };

    SkrinImage(Id id, SkrinHost *skrin);
    ~SkrinImage() override;

    QGraphicsItem *graphicsItem() override { return this; }

    int mode() const { return imageMode; }
    void setMode(int mode);
    // Shows the whole picture at one item unit per pixel.
    void resetCrop();
    // What the item covers: the shown rectangle, or in crop mode the whole
    // picture around it.
    QRectF displayRect() const;
    // Loads the picture of `file` when it is still missing; true once loaded.
    bool loadPicture();
    void setImageRect(const QRectF &rect);
    QRectF sourceRectangle() const { return sourceRect; }

    void selectionCountChanged(int selectedCount) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    QRectF rect() const override { return imageRect; }
    void setRect(const QRectF &rect) override;

protected:
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

    void init() override;
    void set(const QString &member, const QVariant &value) override;
    void remove() override;

private:
    QRectF usableSource() const;
    QRectF cropSource(QRectF &shown);
    void moveImageRectToOrigin();

    QPixmap picture;
    int imageMode = NoMode;
    QRectF imageRect;
    QRectF sourceRect;
};
