#include "rowpainting.h"

#include "arrowgeometry.h"
#include "database.h"
#include "fontweight.h"
#include "imagecache.h"
#include "imagesaver.h"
#include "paintlimits.h"
#include "pixelate.h"
#include "polygondata.h"

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

bool flag(const QVariantMap &row, const char *member)
{
    return row.value(QLatin1String(member)).toInt() != 0;
}

QRectF grown(const QRectF &rect, double by)
{
    return rect.adjusted(-by, -by, by, by);
}

// Paints a stroke: one point is a dot of the pen's width, more a polyline.
void paintStroke(QPainter *painter, const QPolygonF &polygon, const QPen &pen)
{
    if (polygon.size() == 1) {
        const double w = pen.widthF();
        const QPointF p = polygon.first();
        painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(pen.color(), Qt::SolidPattern));
        painter->drawEllipse(QRectF(p.x() - w / 2, p.y() - w / 2, w, w));
    } else if (!polygon.isEmpty()) {
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawPolyline(polygon);
    }
}

// The text item both the measuring and the painting use.
void setUpTextItem(QGraphicsTextItem &item, const QVariantMap &row)
{
    item.setFont(textFontFromRow(row));
    item.setDefaultTextColor(colorFromRow(row));
    item.setPlainText(row.value(QStringLiteral("data")).toString());
}
} // namespace

QStringList annotationTables()
{
    return {QStringLiteral("skrin_image"),          QStringLiteral("skrin_marker"),
            QStringLiteral("skrin_text"),           QStringLiteral("skrin_arrow"),
            QStringLiteral("skrin_line"),           QStringLiteral("skrin_ellipse"),
            QStringLiteral("skrin_ellipse_frame"),  QStringLiteral("skrin_rectangle"),
            QStringLiteral("skrin_rectangle_frame"), QStringLiteral("skrin_pen"),
            QStringLiteral("skrin_blur"),           QStringLiteral("skrin_pin")};
}

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

QRectF outlineBounds(const QRectF &rect, double penWidth)
{
    return grown(grown(rect, penWidth / 2).normalized(), penWidth / 2);
}

QFont textFontFromRow(const QVariantMap &row)
{
    QFont font;
    font.setFamily(row.value(QStringLiteral("font_name")).toString());
    font.setPointSize(clampFontPointSize(real(row, "font_size")));
    font.setWeight(QFont::Weight(qtFontWeightFromStored(row.value(QStringLiteral("font_weight")))));
    font.setStyle(flag(row, "font_italic") ? QFont::StyleItalic : QFont::StyleNormal);
    font.setUnderline(flag(row, "font_underline"));
    font.setStrikeOut(flag(row, "font_strikeout"));
    return font;
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
    const QString type = row.value(typeKey).toString();
    const double w = penFromRow(row).widthF();
    if (type == QLatin1String("skrin_image"))
        return pictureRectFromRow(row);
    if (type == QLatin1String("skrin_rectangle") || type == QLatin1String("skrin_ellipse"))
        return rectFromRow(row).normalized();
    if (type == QLatin1String("skrin_marker") || type == QLatin1String("skrin_pen")
        || type == QLatin1String("skrin_blur"))
        return polygonRowBounds(row);
    if (type == QLatin1String("skrin_text"))
        return textRowBounds(row);
    if (type == QLatin1String("skrin_rectangle_frame") || type == QLatin1String("skrin_ellipse_frame"))
        return outlineBounds(rectFromRow(row), w);
    if (type == QLatin1String("skrin_arrow"))
        return arrowBoundingRect(lineFromRow(row), penFromRow(row));
    if (type == QLatin1String("skrin_line")) {
        const QLineF line = lineFromRow(row);
        return grown(QRectF(line.p1(), line.p2()).normalized(), w / 2);
    }
    return {};
}

void paintPenRow(QPainter *painter, const QVariantMap &row)
{
    paintStroke(painter, dataToPolygon(row.value(QStringLiteral("data"))), penFromRow(row));
}

void paintMarkerRow(QPainter *painter, const QVariantMap &row)
{
    QPen pen = penFromRow(row);
    QColor colour = pen.color();
    colour.setAlphaF(0.3f);
    pen.setColor(colour);
    paintStroke(painter, dataToPolygon(row.value(QStringLiteral("data"))), pen);
}

void paintTextRow(QPainter *painter, const QVariantMap &row)
{
    QGraphicsTextItem item;
    setUpTextItem(item, row);
    const QStyleOptionGraphicsItem option;
    item.paint(painter, &option, nullptr);
}

void paintBlurRow(QPainter *painter, const QVariantMap &row, const QImage &canvas, const QPointF &rowOnCanvas)
{
    const QPolygonF polygon = dataToPolygon(row.value(QStringLiteral("data")));
    const QRectF br = polygonRowBounds(row);
    if (polygon.isEmpty() || br.isEmpty())
        return;
    const QRect area = QRect(qRound(rowOnCanvas.x() + br.left()), qRound(rowOnCanvas.y() + br.top()),
                             qRound(br.width()), qRound(br.height()))
                           .intersected(canvas.rect());
    pixelateUnderMask(painter, canvas, area, polygon, penFromRow(row).widthF(), br.topLeft());
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
        else if (!image.loadFromData(bytes))
            found = RowImageState::Broken;
    }
    if (state)
        *state = found;
    return image;
}

bool paintImageRow(QPainter *painter, const QVariantMap &row, const QImage &image)
{
    const QRectF source(coordinate(row, "src_x"), coordinate(row, "src_y"), clampSize(real(row, "src_w")),
                        clampSize(real(row, "src_h")));
    const QRectF target = pictureRectFromRow(row);
    if (!image.isNull())
        painter->drawImage(target, image, source);
    const QRectF whole(image.rect());
    return whole == target && whole == source;
}

bool paintImageRow(QPainter *painter, const QVariantMap &row)
{
    return paintImageRow(painter, row, loadRowImage(row));
}

void paintRow(QPainter *painter, const QVariantMap &row, const QImage &canvas, const QPointF &rowOnCanvas)
{
    const QString type = row.value(typeKey).toString();
    if (type == QLatin1String("skrin_pen")) {
        paintPenRow(painter, row);
    } else if (type == QLatin1String("skrin_marker")) {
        paintMarkerRow(painter, row);
    } else if (type == QLatin1String("skrin_blur")) {
        paintBlurRow(painter, row, canvas, rowOnCanvas);
    } else if (type == QLatin1String("skrin_text")) {
        paintTextRow(painter, row);
    } else if (type == QLatin1String("skrin_rectangle") || type == QLatin1String("skrin_ellipse")) {
        const QRectF rect = rectFromRow(row);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(colorFromRow(row), Qt::SolidPattern));
        if (type == QLatin1String("skrin_rectangle"))
            painter->drawRects(&rect, 1);
        else
            painter->drawEllipse(rect);
    } else if (type == QLatin1String("skrin_rectangle_frame") || type == QLatin1String("skrin_ellipse_frame")) {
        const QPen pen = penFromRow(row);
        const QRectF rect = grown(rectFromRow(row), pen.widthF() / 2);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        if (type == QLatin1String("skrin_rectangle_frame"))
            painter->drawRects(&rect, 1);
        else
            painter->drawEllipse(rect);
    } else if (type == QLatin1String("skrin_arrow")) {
        paintArrow(painter, lineFromRow(row), penFromRow(row));
    } else if (type == QLatin1String("skrin_line")) {
        const QLineF line = lineFromRow(row);
        painter->setPen(penFromRow(row));
        painter->drawLines(&line, 1);
    }
}
