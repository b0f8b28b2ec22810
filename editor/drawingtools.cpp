#include "drawingtools.h"

#include "skrin.h"
#include "skrinarrow.h"
#include "skrinblur.h"
#include "skrinellipseframe.h"
#include "skrinimage.h"
#include "skrinline.h"
#include "skrinmarker.h"
#include "skrinpin.h"
#include "skrinrectangleframe.h"
#include "skrintext.h"

#include <QCoreApplication>

#include <array>

namespace {

template<class Kind>
SkrinItem *build(Id id, Skrin *skrin)
{
    return new Kind(id, skrin);
}

template<>
SkrinItem *build<SkrinPen>(Id id, Skrin *skrin)
{
    return new SkrinPen(id, skrin, QStringLiteral("x,y,z,data,pen_size,color"));
}

constexpr QRgb black = qRgb(0, 0, 0);
constexpr QRgb red = qRgb(0xff, 0, 0);
constexpr QRgb green = qRgb(0, 0xff, 0);
constexpr QRgb blue = qRgb(0, 0, 0xff);
constexpr unsigned penAndColour = PenSizeOption | ColourOption;

// The tool tips are the tool bar's texts, the menu texts the window's.
#define TIP(text) QT_TRANSLATE_NOOP("SkrinToolBar", text)
#define MENU(text) QT_TRANSLATE_NOOP("MainWindow", text)

constexpr std::array tools{
    DrawingTool{ToolPen, build<SkrinPen>, Gesture::Stroke, 2.0, black, 10, penAndColour, "pen", MENU("&Pen"),
                TIP("Pen"), 17},
    DrawingTool{ToolBlur, build<SkrinBlur>, Gesture::Stroke, 25.0, black, 10, PenSizeOption, "blur", MENU("&Blur"),
                TIP("Blur"), 15},
    DrawingTool{ToolMarker, build<SkrinMarker>, Gesture::Stroke, 25.0, green, 10, penAndColour, "marker",
                MENU("Mar&ker"), TIP("Mark"), 14},
    DrawingTool{ToolText, build<SkrinText>, Gesture::Text, 0.0, black, 12, ColourOption | FontOption, "text",
                MENU("&Text"), TIP("Text"), 13},
    DrawingTool{ToolArrow, build<SkrinArrow>, Gesture::Line, 5.0, red, 10, penAndColour, "arrow", MENU("&Arrow"),
                TIP("Arrow"), 12},
    DrawingTool{ToolPin, build<SkrinPin>, Gesture::Note, 0.0, red, 10, ColourOption, "pin", MENU("P&in"), TIP("Pin"),
                3},
    DrawingTool{ToolEllipse, build<SkrinEllipse>, Gesture::Box, 0.0, blue, 10, ColourOption, "ellipse",
                MENU("&Ellipse"), nullptr, 0},
    DrawingTool{ToolEllipseFrame, build<SkrinEllipseFrame>, Gesture::Box, 5.0, red, 10, penAndColour, "ellipseFrame",
                MENU("Ellip&se frame"), nullptr, 0},
    DrawingTool{ToolRectangle, build<SkrinRectangle>, Gesture::Box, 0.0, blue, 10, ColourOption, "rectangle",
                MENU("&Rectangle"), nullptr, 0},
    DrawingTool{ToolRectangleFrame, build<SkrinRectangleFrame>, Gesture::Box, 5.0, red, 10, penAndColour,
                "rectangleFrame", MENU("Rectangle fra&me"), nullptr, 0},
    DrawingTool{ToolLine, build<SkrinLine>, Gesture::Line, 5.0, red, 10, penAndColour, "line", MENU("&Line"), nullptr,
                0},
    // Pictures are pasted, never drawn.
    DrawingTool{ToolImage, build<SkrinImage>, Gesture::None, 0.0, black, 10, CropOption, nullptr, nullptr, nullptr, 0},
};

#undef TIP
#undef MENU

} // namespace

std::span<const DrawingTool> drawingTools()
{
    return tools;
}

const DrawingTool *drawingTool(int tool)
{
    for (const DrawingTool &entry : tools) {
        if (entry.tool == tool)
            return &entry;
    }
    return nullptr;
}

bool toolHasOption(int tool, ToolOption option)
{
    const DrawingTool *entry = drawingTool(tool);
    return entry && (entry->options & option);
}
