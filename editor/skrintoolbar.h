#pragma once

// The dark tool bar floating over the screenshot view: Select, a button for
// each drawing tool that has one and Shapes for the others (all from the
// editor's drawing tools), a divider and the option buttons (Color, Pen size,
// Crop, Font) that show only where they apply. The main window drives it
// through the setters; its buttons and menus call the main window, never the
// scene. It sits centred on the view's bottom edge until dragged, in as many
// rows as the view's width needs; while the pointer is over it, it grows and
// shrinks without moving its buttons, and centres again once the pointer has
// left. It shows fully while a tool is active or the pointer is near, dims
// elsewhere over the view and fades out beyond it.

#include "customwidget.h"
#include "engine.h"

#include <QFont>
#include <QList>

class ColorButton;
class CustomButton;
class CropButton;
class FontButton;
class PenSizeButton;
class QMenu;
class SelectButton;
class Separator;
class ToolBarRows;
class ToolButton;

class SkrinToolBar : public CustomWidget
{
    Q_OBJECT
public:
    explicit SkrinToolBar(QWidget *parent);
    ~SkrinToolBar() override;

    void setSkrin(Id skrin);
    void setEditing(bool editing);
    void setTool(int tool);
    void setCropActive(bool active);
    void setPenSize(double size);
    void setToolFont(const QFont &font);
    void setColor(const QColor &color);
    void setPenSizeVisible(bool visible);
    void setColorVisible(bool visible);
    void setCropVisible(bool visible);
    void setFontVisible(bool visible);
    // All four at once, laid out once.
    void setOptionsVisible(bool penSize, bool color, bool crop, bool font);
    void reposition();
    void setAutoPlace(bool autoPlace);
    void updateOpacity();
    void updateSeparator();
    // The least room in which every button can be reached, every option shown.
    QSize leastRoom() const;

    Id skrinId() const { return skrin; }
    bool isAutoPlaced() const { return autoPlace; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void buildMenus();
    void buildButtons();
    // Lays the buttons out for the width of the view where that or the shown
    // buttons changed, and puts the bar back in its place.
    void fitIntoView(bool buttonsChanged);
    // Notes whether the pointer is over the bar; leaving it centres the bar.
    void followPointer();

    ToolBarRows *rows = nullptr;
    SelectButton *selectButton = nullptr;
    QList<ToolButton *> toolButtons;
    CustomButton *shapesButton = nullptr;
    Separator *separator = nullptr;
    ColorButton *colorButton = nullptr;
    PenSizeButton *penSizeButton = nullptr;
    CropButton *cropButton = nullptr;
    FontButton *fontButton = nullptr;
    // Parentless menus: they open as windows of their own and live with the bar.
    QMenu *fontMenu = nullptr;
    QMenu *shapesMenu = nullptr;
    QMenu *colorMenu = nullptr;
    QMenu *penSizeMenu = nullptr;
    bool autoPlace = true;
    QPoint dragOrigin;
    bool dragging = false;
    bool pointerOver = false;
    Id skrin = 0;
    bool editing = false;
    bool cropVisible = true;
    bool colorVisible = true;
    bool fontVisible = true;
    bool penSizeVisible = true;
};
