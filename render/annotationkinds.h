#pragma once

// Every annotation kind in one table: the stored table of its rows, the tool
// that draws it, and how the renderer measures and paints one of its rows.
// A new kind is one entry here, one item class and one entry in the editor's
// drawing tools (editor/drawingtools.cpp), which builds and offers it; the
// README lists every step.

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QStringList>
#include <QVariantMap>

#include <span>

class QPainter;

// Tool ids, shared by the tool bar, the scene and the main window.
enum SkrinTool {
    ToolNone = 0,
    ToolBlur = 1,
    ToolMarker = 2,
    ToolSelect = 3,
    ToolText = 4,
    ToolPen = 5,
    ToolArrow = 6,
    ToolLine = 7,
    ToolEllipse = 8,
    ToolEllipseFrame = 9,
    ToolRectangle = 10,
    ToolRectangleFrame = 11,
    ToolPasteFile = 12,
    ToolPasteClipboard = 13,
    ToolPasteCapture = 14,
    ToolPin = 15,
    ToolImage = 16,
};

// What a row painter works on besides the painter, which stands translated
// to the row's x, y.
struct RowPaint
{
    const QVariantMap &row;
    const QImage &canvas;  // what is painted so far: a blur pixelates it
    QPointF rowOnCanvas;   // the row's origin in canvas pixels
    const QImage &picture; // an image row's picture
};

struct AnnotationKind
{
    const char *table;
    SkrinTool tool;
    // The row's rectangle in item coordinates: what its painting can cover.
    // Null for kinds outside the picture.
    QRectF (*rowRect)(const QVariantMap &row);
    // Paints the row; false when an image row's picture was not drawn as it
    // is. Null for kinds outside the picture (pins are notes).
    bool (*paintRow)(QPainter *painter, const RowPaint &paint);
};

// The kinds in the order a screenshot's rows are gathered and watched.
std::span<const AnnotationKind> annotationKinds();
// The kind whose rows `table` holds, or that `tool` draws; null for none.
const AnnotationKind *annotationKind(QStringView table);
const AnnotationKind *annotationKindOfTool(int tool);
// The kinds' tables, in the same order.
QStringList annotationTables();
