#pragma once

// Painting of stored annotation rows without scene items, for the renderer.
// A row is the QVariantMap of its members (readItem) plus "type" = its table.
// Coordinates are item coordinates: the caller translates the painter to the
// row's x, y. Values from the row are clamped to the paint limits first, so a
// hostile row paints what it can and never stalls the painter.

#include "annotationkinds.h"

#include <QFont>
#include <QImage>
#include <QLineF>
#include <QPen>
#include <QRectF>
#include <QStringList>
#include <QVariantMap>

class QPainter;

// Row readers.
QColor colorFromRow(const QVariantMap &row); // "" or missing: transparent
QPen penFromRow(const QVariantMap &row);     // pen_size 0.1 or less: no pen
QLineF lineFromRow(const QVariantMap &row);
QRectF rectFromRow(const QVariantMap &row);        // 0, 0, w, h; sizes may be negative
QRectF pictureRectFromRow(const QVariantMap &row); // the same, sizes at least 0
QFont textFontFromRow(const QVariantMap &row); // whole point sizes

// A row's rectangle in item coordinates by its type's kind: what its painting
// can cover. A null rectangle for pins and unknown types.
QRectF rowRect(const QVariantMap &row);
QRectF polygonRowBounds(const QVariantMap &row);
QRectF textRowBounds(const QVariantMap &row);

// Row painters of the kinds' table.
bool paintPenRow(QPainter *painter, const RowPaint &paint);
bool paintMarkerRow(QPainter *painter, const RowPaint &paint);
bool paintTextRow(QPainter *painter, const RowPaint &paint);
// Pixelates the canvas under a blur row; the painter must be painting on it.
bool paintBlurRow(QPainter *painter, const RowPaint &paint);

// How an image row's picture was found.
enum class RowImageState {
    Loaded,  // decoded (from the image cache or the file store)
    Pending, // no bytes yet: a background save of the file is under way
    Missing, // no bytes, and none are coming: no file, or one that is gone
    Broken,  // bytes that do not decode as a picture
};
// The row's picture from the image cache, else decoded from the file store.
// A name the file store does not have is not read (a read would leave an
// empty entry behind that passes for the file).
QImage loadRowImage(const QVariantMap &row, RowImageState *state = nullptr);
// Draws the row's source rectangle of `image` into its w x h rectangle. True
// when that is the picture as it is: w x h equal to the picture's size and the
// source rectangle the whole picture.
bool paintImageRow(QPainter *painter, const QVariantMap &row, const QImage &image);
bool paintImageRow(QPainter *painter, const QVariantMap &row);
// True when the row shows `image` as it is (what paintImageRow answers).
bool isImageRowAsItIs(const QVariantMap &row, const QImage &image);
bool paintImageRow(QPainter *painter, const RowPaint &paint);

// Paints a row by its type's kind; an image row's picture is not drawn (it
// needs its picture), nor are pins (notes, not part of the picture).
void paintRow(QPainter *painter, const QVariantMap &row, const QImage &canvas, const QPointF &rowOnCanvas);
