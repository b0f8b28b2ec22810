#include "annotationkinds.h"

#include "annotationlooks.h"
#include "arrowgeometry.h"
#include "rowpainting.h"

#include <QPainter>

#include <array>

namespace {

QRectF filledBounds(const QVariantMap &row)
{
    return rectFromRow(row).normalized();
}

QRectF frameBounds(const QVariantMap &row)
{
    return figureBounds(rectFromRow(row), penFromRow(row).widthF());
}

QRectF lineBounds(const QVariantMap &row)
{
    const QLineF line = lineFromRow(row);
    const double half = penFromRow(row).widthF() / 2;
    return QRectF(line.p1(), line.p2()).normalized().adjusted(-half, -half, half, half);
}

QRectF arrowBounds(const QVariantMap &row)
{
    return arrowBoundingRect(lineFromRow(row), penFromRow(row));
}

template<FigureKind figure>
bool paintFilled(QPainter *painter, const RowPaint &paint)
{
    const QBrush fill(colorFromRow(paint.row), Qt::SolidPattern);
    paintFigure(painter, figure, rectFromRow(paint.row), QPen(Qt::NoPen), fill);
    return true;
}

template<FigureKind figure>
bool paintFrame(QPainter *painter, const RowPaint &paint)
{
    paintFigure(painter, figure, rectFromRow(paint.row), penFromRow(paint.row), Qt::NoBrush);
    return true;
}

bool paintArrowRow(QPainter *painter, const RowPaint &paint)
{
    paintArrow(painter, lineFromRow(paint.row), penFromRow(paint.row));
    return true;
}

bool paintLine(QPainter *painter, const RowPaint &paint)
{
    const QLineF line = lineFromRow(paint.row);
    painter->setPen(penFromRow(paint.row));
    painter->drawLines(&line, 1);
    return true;
}

constexpr std::array kinds{
    AnnotationKind{"skrin_image", ToolImage, pictureRectFromRow, paintImageRow},
    AnnotationKind{"skrin_marker", ToolMarker, polygonRowBounds, paintMarkerRow},
    AnnotationKind{"skrin_text", ToolText, textRowBounds, paintTextRow},
    AnnotationKind{"skrin_arrow", ToolArrow, arrowBounds, paintArrowRow},
    AnnotationKind{"skrin_line", ToolLine, lineBounds, paintLine},
    AnnotationKind{"skrin_ellipse", ToolEllipse, filledBounds, paintFilled<FigureKind::Ellipse>},
    AnnotationKind{"skrin_ellipse_frame", ToolEllipseFrame, frameBounds, paintFrame<FigureKind::Ellipse>},
    AnnotationKind{"skrin_rectangle", ToolRectangle, filledBounds, paintFilled<FigureKind::Rectangle>},
    AnnotationKind{"skrin_rectangle_frame", ToolRectangleFrame, frameBounds, paintFrame<FigureKind::Rectangle>},
    AnnotationKind{"skrin_pen", ToolPen, polygonRowBounds, paintPenRow},
    AnnotationKind{"skrin_blur", ToolBlur, polygonRowBounds, paintBlurRow},
    // Pins are notes, not part of the picture.
    AnnotationKind{"skrin_pin", ToolPin, nullptr, nullptr},
};

} // namespace

std::span<const AnnotationKind> annotationKinds()
{
    return kinds;
}

const AnnotationKind *annotationKind(QStringView table)
{
    for (const AnnotationKind &kind : kinds) {
        if (table == QLatin1String(kind.table))
            return &kind;
    }
    return nullptr;
}

const AnnotationKind *annotationKindOfTool(int tool)
{
    for (const AnnotationKind &kind : kinds) {
        if (kind.tool == tool)
            return &kind;
    }
    return nullptr;
}

QStringList annotationTables()
{
    QStringList tables;
    for (const AnnotationKind &kind : kinds)
        tables.append(QString::fromLatin1(kind.table));
    return tables;
}
