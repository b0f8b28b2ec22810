#include "rowpainting.h"

#include "annotationkinds.h"
#include "annotationlooks.h"
#include "database.h"
#include "decodedpicture.h"
#include "imagecache.h"
#include "imagesaver.h"
#include "paintlimits.h"
#include "pixelate.h"
#include "polygondata.h"
#include "storedfont.h"

#include <QGraphicsTextItem>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

namespace {
const QString typeKey = QStringLiteral("type");

double real(const QVariantMap &row, const char *member)
{
    return finiteReal(row.value(QLatin1String(member)));
}

double coordinate(const QVariantMap &row, const char *member)
{
    return clampCoordinate(real(row, member));
}

QRectF grown(const QRectF &rect, double by)
{
    return rect.adjusted(-by, -by, by, by);
}

// The text item both the measuring and the painting use.
void setUpTextItem(QGraphicsTextItem &item, const QVariantMap &row)
{
    item.setFont(textFontFromRow(row));
    item.setDefaultTextColor(colorFromRow(row));
    item.setPlainText(row.value(QStringLiteral("data")).toString());
}
} // namespace

QColor colorFromRow(const QVariantMap &row)
{
    const QString name = row.value(QStringLiteral("color")).toString();
    if (name.isEmpty())
        return QColor(Qt::transparent);
    return QColor::fromString(name);
}

QPen penFromRow(const QVariantMap &row)
{
    const double size = real(row, "pen_size");
    if (!(size > 0.1)) {
        // Qt 6's QPen(Qt::NoPen) is 1 wide; no pen must measure 0.
        QPen none(Qt::NoPen);
        none.setWidthF(0);
        return none;
    }
    return QPen(QBrush(colorFromRow(row), Qt::SolidPattern), clampPenWidth(size), Qt::SolidLine,
                Qt::RoundCap, Qt::RoundJoin);
}

QLineF lineFromRow(const QVariantMap &row)
{
    return QLineF(coordinate(row, "begin_x"), coordinate(row, "begin_y"), coordinate(row, "end_x"),
                  coordinate(row, "end_y"));
}

QRectF rectFromRow(const QVariantMap &row)
{
    // As stored, sign and all: a wide frame shrunk by its handles keeps a
    // negative size, and the editor paints it so.
    return QRectF(0, 0, coordinate(row, "w"), coordinate(row, "h"));
}

QRectF pictureRectFromRow(const QVariantMap &row)
{
    return QRectF(0, 0, clampSize(real(row, "w")), clampSize(real(row, "h")));
}

QFont textFontFromRow(const QVariantMap &row)
{
    return fontFromMembers(row, PointSizes::Whole);
}

QRectF polygonRowBounds(const QVariantMap &row)
{
    const QPolygonF polygon = dataToPolygon(row.value(QStringLiteral("data")));
    if (polygon.isEmpty())
        return {};
    return grown(polygon.boundingRect(), penFromRow(row).widthF() / 2);
}

QRectF textRowBounds(const QVariantMap &row)
{
    QGraphicsTextItem item;
    setUpTextItem(item, row);
    return item.boundingRect();
}

QRectF rowRect(const QVariantMap &row)
{
    const AnnotationKind *kind = annotationKind(row.value(typeKey).toString());
    return kind && kind->rowRect ? kind->rowRect(row) : QRectF();
}

bool paintPenRow(QPainter *painter, const RowPaint &paint)
{
    paintStroke(painter, dataToPolygon(paint.row.value(QStringLiteral("data"))), penFromRow(paint.row));
    return true;
}

bool paintMarkerRow(QPainter *painter, const RowPaint &paint)
{
    paintStroke(painter, dataToPolygon(paint.row.value(QStringLiteral("data"))), markerPen(penFromRow(paint.row)));
    return true;
}

bool paintTextRow(QPainter *painter, const RowPaint &paint)
{
    QGraphicsTextItem item;
    setUpTextItem(item, paint.row);
    const QStyleOptionGraphicsItem option;
    item.paint(painter, &option, nullptr);
    return true;
}

bool paintBlurRow(QPainter *painter, const RowPaint &paint)
{
    const QPolygonF polygon = dataToPolygon(paint.row.value(QStringLiteral("data")));
    const QRectF br = polygonRowBounds(paint.row);
    if (polygon.isEmpty() || br.isEmpty())
        return true;
    const QRect area = QRect(qRound(paint.rowOnCanvas.x() + br.left()), qRound(paint.rowOnCanvas.y() + br.top()),
                             qRound(br.width()), qRound(br.height()))
                           .intersected(paint.canvas.rect());
    pixelateUnderMask(painter, paint.canvas, area, polygon, penFromRow(paint.row).widthF(), br.topLeft());
    return true;
}

QImage loadRowImage(const QVariantMap &row, RowImageState *state)
{
    const QString name = row.value(QStringLiteral("file")).toString();
    QImage image = cachedImage(name);
    RowImageState found = RowImageState::Loaded;
    if (image.isNull()) {
        // Asked before the bytes: a saver stores them before it ends.
        const bool saving = !name.isEmpty() && ImageSaver::isPending(name);
        const QByteArray bytes =
            name.isEmpty() || !Database::fileExists(name) ? QByteArray() : Database::fileData(name);
        if (bytes.isEmpty())
            found = saving ? RowImageState::Pending : RowImageState::Missing;
        else if ((image = DecodedPicture::fromBytes(bytes).image).isNull())
            found = RowImageState::Broken;
    }
    if (state)
        *state = found;
    return image;
}

namespace {

QRectF imageSourceRect(const QVariantMap &row)
{
    return QRectF(coordinate(row, "src_x"), coordinate(row, "src_y"), clampSize(real(row, "src_w")),
                  clampSize(real(row, "src_h")));
}

} // namespace

bool isImageRowAsItIs(const QVariantMap &row, const QImage &image)
{
    const QRectF whole(image.rect());
    return whole == pictureRectFromRow(row) && whole == imageSourceRect(row);
}

bool paintImageRow(QPainter *painter, const QVariantMap &row, const QImage &image)
{
    if (!image.isNull())
        painter->drawImage(pictureRectFromRow(row), image, imageSourceRect(row));
    return isImageRowAsItIs(row, image);
}

bool paintImageRow(QPainter *painter, const QVariantMap &row)
{
    return paintImageRow(painter, row, loadRowImage(row));
}

bool paintImageRow(QPainter *painter, const RowPaint &paint)
{
    return paintImageRow(painter, paint.row, paint.picture);
}

void paintRow(QPainter *painter, const QVariantMap &row, const QImage &canvas, const QPointF &rowOnCanvas)
{
    const AnnotationKind *kind = annotationKind(row.value(typeKey).toString());
    if (kind && kind->paintRow)
        kind->paintRow(painter, RowPaint{row, canvas, rowOnCanvas, QImage()});
}
