#include "skrintoolbar.h"

#include "colorbutton.h"
#include "cropbutton.h"
#include "drawingtools.h"
#include "fontbutton.h"
#include "mainwindowhost.h"
#include "overlaypointer_p.h"
#include "pensizebutton.h"
#include "selectbutton.h"
#include "separator.h"
#include "skrintoolaction.h"
#include "toolbarrows_p.h"
#include "toolbutton.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>

namespace {

constexpr int buttonSide = 44;
constexpr int buttonSpacing = 5;
// How far the pointer may be outside the bar and still count as near.
constexpr int nearMargin = 5;
// However narrow the view, this many buttons stand in a row.
constexpr int leastButtonsARow = 4;

void addNamedAction(QMenu *menu, const char *name)
{
    if (QAction *action = MainWindowHost::actionByName(QString::fromLatin1(name)))
        menu->addAction(action);
}

} // namespace

SkrinToolBar::SkrinToolBar(QWidget *parent)
    : CustomWidget(parent, true)
{
    setGradient(QColor("#676767"), QColor("#010101"));
    setShadowSize(10);
    setBorder(true, 0.0, QColor("#a4a4a4"));
    setState(Hidden, true);
    hide();
    jumpTo(QStringLiteral("opacity"), 0.0);

    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The bar always takes its size hint, shaded margin included: every change
    // of its buttons resizes it to the hint, and the buttons sit centred on the
    // painted panel, inside the margin.
    layout()->setContentsMargins(0, 0, 0, 0);
    layout()->setAlignment(Qt::AlignCenter);
    layout()->setSpacing(buttonSpacing);
    rows = new ToolBarRows(buttonSpacing);
    panelLayout()->addLayout(rows);
    setContentsMargins(7, 7, 7, 7);

    buildMenus();
    buildButtons();
    reposition();
    setOptionsVisible(true, false, false, false);
}

SkrinToolBar::~SkrinToolBar()
{
    // Each button that holds one of these menus detaches itself when it goes.
    delete fontMenu;
    delete shapesMenu;
    delete colorMenu;
    delete penSizeMenu;
}

void SkrinToolBar::buildMenus()
{
    shapesMenu = new QMenu(tr("Shapes"));
    for (const DrawingTool &tool : drawingTools()) {
        if (tool.inShapesMenu())
            addNamedAction(shapesMenu, tool.action);
    }

    penSizeMenu = new QMenu(tr("Pen size"));
    for (int size : {1, 2, 5, 10, 25, 50})
        penSizeMenu->addAction(SkrinToolAction::makePenSize(QString::number(size) + QStringLiteral("px"), size, penSizeMenu));

    colorMenu = new QMenu(tr("Color"));
    const std::pair<QString, QColor> colors[] = {
        {tr("White"), QColor(0xff, 0xff, 0xff)}, {tr("Black"), QColor(0, 0, 0)},
        {tr("Red"), QColor(0xff, 0, 0)},         {tr("Green"), QColor(0, 0xff, 0)},
        {tr("Blue"), QColor(0, 0, 0xff)},        {tr("Yellow"), QColor(0xff, 0xff, 0)},
        {tr("Orange"), QColor(255, 128, 0)},
    };
    for (const auto &[text, color] : colors)
        colorMenu->addAction(SkrinToolAction::makeColor(text, color, colorMenu));
    addNamedAction(colorMenu, "pickColor");

    fontMenu = new QMenu(tr("Font"));
    for (int size : {8, 10, 12, 16, 25})
        fontMenu->addAction(SkrinToolAction::makeFontSize(QString::number(size), size, fontMenu));
    fontMenu->addSeparator();
    QAction *more = fontMenu->addAction(tr("More"));
    connect(more, &QAction::triggered, this, [] {
        if (QAction *changeFont = MainWindowHost::actionByName(QStringLiteral("changeFont")))
            changeFont->trigger();
    });
}

void SkrinToolBar::buildButtons()
{
    const auto place = [this](CustomButton *button, const QString &toolTip, int picture, QMenu *menu,
                              ToolBarRows::Role role) {
        button->setSize(buttonSide, buttonSide);
        button->setIcons(QStringLiteral(":/rc/ico%1a.png").arg(picture), QStringLiteral(":/rc/ico%1.png").arg(picture));
        button->setToolTip(toolTip);
        if (menu)
            button->setMenu(menu, true);
        button->setParent(this);
        button->setOpacity(opacity());
        rows->addWidget(button, role);
    };
    place(selectButton = new SelectButton, tr("Select"), 16, nullptr, ToolBarRows::Tool);
    for (const DrawingTool &tool : drawingTools()) {
        if (!tool.hasButton())
            continue;
        toolButtons.append(new ToolButton(tool.tool));
        place(toolButtons.last(), QCoreApplication::translate("SkrinToolBar", tool.toolTip), tool.picture, nullptr,
              ToolBarRows::Tool);
    }
    place(shapesButton = new CustomButton, tr("Shapes"), 19, shapesMenu, ToolBarRows::Tool);
    separator = new Separator(this);
    separator->setOpacity(opacity());
    rows->addWidget(separator, ToolBarRows::Divider);
    place(colorButton = new ColorButton, tr("Color"), 2, colorMenu, ToolBarRows::Option);
    place(penSizeButton = new PenSizeButton(10.0), tr("Pen size"), 0, penSizeMenu, ToolBarRows::Option);
    place(cropButton = new CropButton, tr("Crop"), 1, nullptr, ToolBarRows::Option);
    place(fontButton = new FontButton, tr("Font"), 4, fontMenu, ToolBarRows::Option);
    adjustKeepingCentre();
}

void SkrinToolBar::setSkrin(Id id)
{
    if (id == skrin)
        return;
    skrin = id;
    updateOpacity();
    autoPlace = true;
    reposition();
}

void SkrinToolBar::setEditing(bool on)
{
    if (on == editing)
        return;
    editing = on;
    updateOpacity();
}

void SkrinToolBar::setTool(int tool)
{
    selectButton->setActive(tool == ToolSelect);
    for (ToolButton *button : std::as_const(toolButtons))
        button->setActive(button->tool() == tool);
    // The tools without a button of their own are the Shapes menu's.
    const DrawingTool *drawing = drawingTool(tool);
    shapesButton->setActive(drawing && drawing->inShapesMenu());
}

void SkrinToolBar::setCropActive(bool active)
{
    cropButton->setActive(active);
}

void SkrinToolBar::setPenSize(double size)
{
    if (size == penSizeButton->penSize())
        return;
    penSizeButton->setPenSize(size);
    penSizeButton->update();
}

void SkrinToolBar::setToolFont(const QFont &font)
{
    fontButton->setToolFont(font);
}

void SkrinToolBar::setColor(const QColor &)
{
    // The Color button always shows its own pictures.
}

void SkrinToolBar::setOptionsVisible(bool penSize, bool color, bool crop, bool font)
{
    bool changed = false;
    const auto show = [&changed](bool &flag, QWidget *button, bool visible) {
        if (visible == flag)
            return;
        flag = visible;
        button->setVisible(visible);
        changed = true;
    };
    show(penSizeVisible, penSizeButton, penSize);
    show(colorVisible, colorButton, color);
    show(cropVisible, cropButton, crop);
    show(fontVisible, fontButton, font);
    if (changed)
        fitIntoView(true);
}

void SkrinToolBar::setPenSizeVisible(bool visible)
{
    setOptionsVisible(visible, colorVisible, cropVisible, fontVisible);
}

void SkrinToolBar::setColorVisible(bool visible)
{
    setOptionsVisible(penSizeVisible, visible, cropVisible, fontVisible);
}

void SkrinToolBar::setCropVisible(bool visible)
{
    setOptionsVisible(penSizeVisible, colorVisible, visible, fontVisible);
}

void SkrinToolBar::setFontVisible(bool visible)
{
    setOptionsVisible(penSizeVisible, colorVisible, cropVisible, visible);
}

void SkrinToolBar::updateSeparator()
{
    // Asked of the buttons themselves, not of what is on screen: a bar that
    // is faded out while the options change must still show its divider when
    // it comes back. Rows of their own need none.
    const bool anyOption = !colorButton->isHidden() || !penSizeButton->isHidden() || !cropButton->isHidden()
                           || !fontButton->isHidden();
    separator->setVisible(anyOption && rows->fitsOneRow());
}

QSize SkrinToolBar::leastRoom() const
{
    const int narrowest = leastButtonsARow * (buttonSide + buttonSpacing) - buttonSpacing;
    return rows->sizeWithEveryButton(narrowest) + chromeSize();
}

void SkrinToolBar::reposition()
{
    if (!parentWidget())
        return;
    fitIntoView(false);
}

void SkrinToolBar::fitIntoView(bool buttonsChanged)
{
    const QPoint corner = pos();
    // The scene's rectangle changes on every pointer move of a drag that grows
    // it: the rows are laid out again only when they can have changed.
    if (parentWidget() && rows->setWidthLimit(overlayArea(this).width() - chromeSize().width()))
        buttonsChanged = true;
    if (buttonsChanged) {
        if (parentWidget())
            updateSeparator();
        layout()->invalidate();
        // Laid out at once, also while the bar is hidden.
        resizeToHint(corner, false);
        layout()->activate();
    }
    if (!parentWidget() || !autoPlace)
        return;
    // Centred at the bottom of the picture's area, above any scroll bar;
    // while the pointer is over the bar, its left edge stays where it is.
    const QRect area = overlayArea(this);
    const int centred = area.x() + (area.width() - 1) / 2 - width() / 2;
    const int x = pointerOver ? std::max(area.left(), std::min(corner.x(), area.right() + 1 - width())) : centred;
    move(x, area.bottom() + 1 - height());
}

void SkrinToolBar::setAutoPlace(bool on)
{
    autoPlace = on;
    reposition();
}

void SkrinToolBar::followPointer()
{
    const bool over = isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
    if (over == pointerOver)
        return;
    pointerOver = over;
    if (!over && autoPlace)
        reposition();
}

void SkrinToolBar::updateOpacity()
{
    followPointer();
    if (skrin == 0) {
        setState(Hidden, true);
        return;
    }
    if (editing) {
        setState(Shown, true);
        return;
    }
    fadeByPointer(this, nearMargin);
}

void SkrinToolBar::mousePressEvent(QMouseEvent *event)
{
    CustomWidget::mousePressEvent(event);
    dragOrigin = event->position().toPoint();
    dragging = true;
    event->accept();
}

void SkrinToolBar::mouseMoveEvent(QMouseEvent *event)
{
    CustomWidget::mouseMoveEvent(event);
    if (!dragging || !(event->buttons() & (Qt::LeftButton | Qt::RightButton)))
        return;
    move(keptInsideParent(this, pos() + (event->position().toPoint() - dragOrigin)));
    autoPlace = false;
    event->accept();
}

void SkrinToolBar::mouseReleaseEvent(QMouseEvent *event)
{
    CustomWidget::mouseReleaseEvent(event);
    dragging = false;
    event->accept();
}

void SkrinToolBar::enterEvent(QEnterEvent *event)
{
    CustomWidget::enterEvent(event);
    updateOpacity();
}

void SkrinToolBar::leaveEvent(QEvent *event)
{
    CustomWidget::leaveEvent(event);
    updateOpacity();
}
