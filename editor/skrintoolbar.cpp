#include "skrintoolbar.h"

#include "colorbutton.h"
#include "cropbutton.h"
#include "fontbutton.h"
#include "mainwindowhost.h"
#include "overlaypointer_p.h"
#include "pensizebutton.h"
#include "selectbutton.h"
#include "separator.h"
#include "skrintoolaction.h"
#include "toolbutton.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>

namespace {

constexpr int buttonSide = 44;
// How far the pointer may be outside the bar and still count as near.
constexpr int nearMargin = 5;

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
    layout()->setSpacing(5);
    setContentsMargins(7, 7, 7, 7);

    buildMenus();
    buildButtons();
    reposition();
    setCropVisible(false);
    setColorVisible(false);
    setFontVisible(false);
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
    for (const char *name : {"ellipse", "ellipseFrame", "rectangle", "rectangleFrame", "line"})
        addNamedAction(shapesMenu, name);

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
    const auto place = [this](CustomButton *button, const QString &toolTip, int picture, QMenu *menu) {
        button->setSize(buttonSide, buttonSide);
        button->setIcons(QStringLiteral(":/rc/ico%1a.png").arg(picture), QStringLiteral(":/rc/ico%1.png").arg(picture));
        button->setToolTip(toolTip);
        if (menu)
            button->setMenu(menu, true);
        addWidget(button);
    };
    place(selectButton = new SelectButton, tr("Select"), 16, nullptr);
    place(penButton = new ToolButton(5), tr("Pen"), 17, nullptr);
    place(blurButton = new ToolButton(1), tr("Blur"), 15, nullptr);
    place(markButton = new ToolButton(2), tr("Mark"), 14, nullptr);
    place(textButton = new ToolButton(4), tr("Text"), 13, nullptr);
    place(arrowButton = new ToolButton(6), tr("Arrow"), 12, nullptr);
    place(pinButton = new ToolButton(15), tr("Pin"), 3, nullptr);
    place(shapesButton = new CustomButton, tr("Shapes"), 19, shapesMenu);
    addWidget(separator = new Separator);
    place(colorButton = new ColorButton, tr("Color"), 2, colorMenu);
    place(penSizeButton = new PenSizeButton(10.0), tr("Pen size"), 0, penSizeMenu);
    place(cropButton = new CropButton, tr("Crop"), 1, nullptr);
    place(fontButton = new FontButton, tr("Font"), 4, fontMenu);
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
    selectButton->setActive(tool == 3);
    penButton->setActive(tool == 5);
    blurButton->setActive(tool == 1);
    markButton->setActive(tool == 2);
    textButton->setActive(tool == 4);
    arrowButton->setActive(tool == 6);
    pinButton->setActive(tool == 15);
    shapesButton->setActive(tool >= 7 && tool <= 11);
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

void SkrinToolBar::setOptionVisible(bool &flag, QWidget *button, bool visible)
{
    if (visible == flag)
        return;
    const QPoint centre = QRect(pos(), sizeHint()).center();
    flag = visible;
    button->setVisible(visible);
    // The divider first: it counts in the size the bar takes.
    updateSeparator();
    resizeToHint(centre, autoPlace);
}

void SkrinToolBar::setPenSizeVisible(bool visible)
{
    setOptionVisible(penSizeVisible, penSizeButton, visible);
}

void SkrinToolBar::setColorVisible(bool visible)
{
    setOptionVisible(colorVisible, colorButton, visible);
}

void SkrinToolBar::setCropVisible(bool visible)
{
    setOptionVisible(cropVisible, cropButton, visible);
}

void SkrinToolBar::setFontVisible(bool visible)
{
    setOptionVisible(fontVisible, fontButton, visible);
}

void SkrinToolBar::updateSeparator()
{
    // Asked of the buttons themselves, not of what is on screen: a bar that
    // is faded out while the options change must still show its divider when
    // it comes back.
    separator->setVisible(!colorButton->isHidden() || !penSizeButton->isHidden() || !cropButton->isHidden()
                          || !fontButton->isHidden());
}

void SkrinToolBar::reposition()
{
    if (!parentWidget() || !autoPlace)
        return;
    // Centred at the bottom of the picture's area, above any scroll bar.
    const QRect area = overlayArea(this);
    const QSize hint = sizeHint();
    move(area.x() + (area.width() - 1) / 2 - hint.width() / 2, area.bottom() + 1 - hint.height());
}

void SkrinToolBar::setAutoPlace(bool on)
{
    autoPlace = on;
    reposition();
}

void SkrinToolBar::updateOpacity()
{
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
