#pragma once

// How the editor offers and draws each annotation kind of the kinds table:
// the item it builds for a row, the gesture that draws a new one, the tool's
// first options, the option buttons that apply to it, and where the tool bar
// and the window's Draw menu offer it. The tool bar, the scene and the main
// window read their lists of tools from here alone.

#include "annotationkinds.h"
#include "engine.h"

#include <QRgb>

#include <span>

class Skrin;
class SkrinItem;

// What a press and drag with the tool makes.
enum class Gesture {
    None,   // nothing: the kind arrives otherwise (pictures are pasted)
    Stroke, // a polygon from the press, following the pointer
    Line,   // a line from the press, once the drag leaves it
    Box,    // a rectangle from the press, once the drag leaves it both ways
    Text,   // a text at the click, edited at once; the select tool follows
    Note,   // a pin note at the click, edited at once; the select tool follows
};

// The option buttons of the tool bar, as flags.
enum ToolOption : unsigned {
    PenSizeOption = 1,
    ColourOption = 2,
    FontOption = 4,
    CropOption = 8,
};

struct DrawingTool
{
    SkrinTool tool;
    SkrinItem *(*build)(Id id, Skrin *skrin);
    Gesture gesture;
    // The tool's first pen size (picture pixels), colour and font size (points).
    double penSize;
    QRgb colour;
    int fontPoints;
    unsigned options; // ToolOption flags
    // The window's action that chooses the tool, by the name the tool bar asks
    // it for, and its text in the Draw menu (with a mnemonic letter no other
    // entry of the menu has); null for a kind that is not drawn.
    const char *action;
    const char *menuText;
    // A button of its own on the tool bar, with this tool tip and the picture
    // pair ":/rc/ico<picture>a.png" (idle) and ":/rc/ico<picture>.png"; a null
    // tip puts the action into the tool bar's Shapes menu instead.
    const char *toolTip;
    int picture;

    bool hasButton() const { return action && toolTip; }
    bool inShapesMenu() const { return action && !toolTip; }
};

// The tools in the order the tool bar and the Draw menu show them.
std::span<const DrawingTool> drawingTools();
// The entry of `tool`; null for the tools that draw no kind (view mode,
// Select, the paste tools).
const DrawingTool *drawingTool(int tool);
// Whether `tool` shows the option `option` (false for a tool without entry).
bool toolHasOption(int tool, ToolOption option);
