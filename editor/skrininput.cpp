// The scene's input: new rows drawn with the mouse, the right button that
// ends drawing, the context menu and the scene's keys.

#include "skrin.h"

#include "dot.h"
#include "drawingtools.h"
#include "polygondata.h"
#include "skrinitem.h"
#include "storedfont.h"

#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QLineF>

#include <cmath>

namespace {

// A line is drawn once the pointer left the press point by more than this,
// a shape once it did so in both directions.
constexpr double dragThreshold = 2.0;

bool matches(const QKeySequence &wanted, const QKeySequence &pressed)
{
    return !wanted.isEmpty() && wanted.matches(pressed) != QKeySequence::NoMatch;
}

Gesture gestureOf(int tool)
{
    const DrawingTool *drawing = drawingTool(tool);
    return drawing ? drawing->gesture : Gesture::None;
}

bool isDeleteKey(const QKeyEvent *event)
{
    // The keypad's Delete is the same key to the user.
    const QKeySequence pressed(QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key())));
    const QList<QKeySequence> deleteKeys = QKeySequence::keyBindings(QKeySequence::Delete);
    if (!deleteKeys.isEmpty() && matches(deleteKeys.first(), pressed))
        return true;
    return matches(QKeySequence(QStringLiteral("Backspace")), pressed);
}

} // namespace

QGraphicsItem *Skrin::itemUnder(const QPointF &scenePos) const
{
    const QGraphicsView *v = view();
    return itemAt(scenePos, v ? v->transform() : QTransform());
}

// In view mode the rendered picture stands for the picture items: only pins
// take the mouse.
bool Skrin::isPictureItemUnder(const QPointF &scenePos) const
{
    const auto *item = dynamic_cast<SkrinItem *>(itemUnder(scenePos));
    return item && item->isPartOfPicture();
}

Id Skrin::createRow(const QString &table, const Members &members, bool selectWhenBuilt, bool colourAsName)
{
    const Id newId = createItem(table);
    if (newId == 0)
        return 0;
    drawnItemId = newId;
    if (selectWhenBuilt) {
        clearSelection();
        pendingSelection.insert(newId);
    }
    Item row(newId);
    for (const auto &[member, value] : members) {
        if (colourAsName && member == QLatin1String("color"))
            row.setColor(member, value.value<QColor>());
        else
            row.setMember(member, value, true);
    }
    // Last: the scene builds the item when "parent" arrives.
    row.setMember(QStringLiteral("parent"), QVariant(id()), true);
    return newId;
}

void Skrin::startDrawing(const QPointF &at)
{
    // Options of the tool current at the press, their sizes in picture pixels.
    const SkrinToolOptions options = currentToolOptionsInPicture();
    const int tool = currentTool;
    const Gesture gesture = gestureOf(tool);
    const QString table = tableForTool(tool);
    const Members place{{QStringLiteral("x"), at.x()}, {QStringLiteral("y"), at.y()}};

    // Texts and pins end their gesture at once: the next press selects.
    if (gesture == Gesture::Text) {
        setTool(ToolSelect);
        createRow(table,
                  place + Members{{QStringLiteral("z"), maxZ() + 1.0},
                                  {QStringLiteral("pen_size"), options.penSize},
                                  {QStringLiteral("color"), options.color}}
                      + fontMembers(options.font) + Members{{QStringLiteral("data"), tr("Put your text here...")}},
                  true);
        modified = true;
        return;
    }

    clearSelection();
    creating = true;
    pressPos = at;
    if (gesture == Gesture::Note) {
        setTool(ToolSelect);
        // A pin keeps the colour itself rather than its name.
        createRow(table,
                  place + Members{{QStringLiteral("z"), maxZ() + 1.0},
                                  {QStringLiteral("data"), tr("Put your text here...")},
                                  {QStringLiteral("opened"), 1},
                                  {QStringLiteral("color"), options.color}},
                  true, false);
    } else if (gesture == Gesture::Stroke) {
        createRow(table, place + Members{{QStringLiteral("z"), maxZ() + 1.0},
                                         {QStringLiteral("data"), polygonToData(QPolygonF{QPointF(0, 0)})},
                                         {QStringLiteral("pen_size"), options.penSize},
                                         {QStringLiteral("color"), options.color}});
        creating = false;
        modified = true;
    }
}

// Lines and shapes exist once the drag passed its threshold.
bool Skrin::drawDragged(const QPointF &scenePos)
{
    const double dx = scenePos.x() - pressPos.x();
    const double dy = scenePos.y() - pressPos.y();
    const double d = std::hypot(dx, dy);
    const Gesture gesture = gestureOf(currentTool);
    // Every move below the threshold comes here: nothing is built before it is passed.
    bool passed = false;
    switch (gesture) {
    case Gesture::Line:
        passed = d > dragThreshold;
        break;
    case Gesture::Box:
        passed = std::abs(dx) > dragThreshold && std::abs(dy) > dragThreshold;
        break;
    default:
        break;
    }
    if (!passed)
        return false;
    const SkrinToolOptions options = currentToolOptionsInPicture();
    const Members start{{QStringLiteral("x"), pressPos.x()},
                        {QStringLiteral("y"), pressPos.y()},
                        {QStringLiteral("z"), maxZ() + 1.0}};
    const Members pen{{QStringLiteral("pen_size"), options.penSize}, {QStringLiteral("color"), options.color}};
    const Members shape = gesture == Gesture::Line ? Members{{QStringLiteral("begin_x"), 0},
                                                             {QStringLiteral("begin_y"), 0},
                                                             {QStringLiteral("end_x"), dx},
                                                             {QStringLiteral("end_y"), dy}}
                                                   : Members{{QStringLiteral("w"), d}, {QStringLiteral("h"), d}};
    const Id drawn = createRow(tableForTool(currentTool), start + shape + pen);
    // A fast drag may arrive as one move: the new shape reaches the pointer
    // at once, as it would after any later move.
    if (SkrinItem *item = skrinItems.value(drawn))
        item->drawTo(scenePos);
    return true;
}

bool Skrin::dragDrawingTo(const QPointF &scenePos)
{
    if (creating) {
        if (!drawDragged(scenePos))
            return false;
        creating = false;
        modified = true;
        return true;
    }
    if (SkrinItem *drawn = skrinItems.value(drawnItemId))
        drawn->drawTo(scenePos);
    return false;
}

bool Skrin::isDraggedShapeTool(int tool)
{
    const Gesture gesture = gestureOf(tool);
    return gesture == Gesture::Line || gesture == Gesture::Box;
}

// The right button (or any second button during a drag) ends drawing: the
// item drawn so far is selected and the select tool takes over.
void Skrin::endDrawingBy(QGraphicsSceneMouseEvent *event)
{
    if (currentTool != ToolSelect) {
        if (SkrinItem *drawn = skrinItems.value(drawnItemId)) {
            clearSelection();
            drawn->graphicsItem()->setSelected(true);
        }
        setTool(ToolSelect);
        // On X11 the context menu comes between the press and the release.
        if (event->button() == Qt::RightButton)
            skipContextMenu = true;
    }
    drawnItemId = 0;
    creating = false;
}

void Skrin::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const QPointF at = event->scenePos();
    if (currentTool == ToolNone) {
        if (isPictureItemUnder(at))
            event->accept();
        else
            CustomScene::mousePressEvent(event);
        return;
    }
    if (dynamic_cast<Dot *>(itemUnder(at))) {
        CustomScene::mousePressEvent(event);
        return;
    }

    // Decided by the button that changed: another button pressed during a
    // left drag must not end up as that drag's press or release.
    const bool leftDragGoingOn = (event->buttons() & Qt::LeftButton) && event->button() != Qt::LeftButton
                                 && (drawnItemId != 0 || creating);
    if (event->button() == Qt::LeftButton) {
        if (currentTool == ToolSelect) {
            CustomScene::mousePressEvent(event);
        } else if (gestureOf(currentTool) == Gesture::Text) {
            startDrawing(at);
            CustomScene::mousePressEvent(event);
        } else {
            startDrawing(at);
            event->accept();
        }
        return;
    }
    if (event->button() == Qt::RightButton || leftDragGoingOn) {
        endDrawingBy(event);
        if (leftDragGoingOn) {
            event->accept();
            return;
        }
        const QGraphicsItem *under = itemUnder(at);
        if (!under || !under->isSelected()) {
            event->accept();
            return;
        }
    }
    CustomScene::mousePressEvent(event);
}

void Skrin::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    const QPointF at = event->scenePos();
    if (currentTool == ToolNone) {
        if (isPictureItemUnder(at))
            event->accept();
        else
            CustomScene::mouseMoveEvent(event);
        return;
    }
    if ((event->buttons() & Qt::LeftButton) && dragDrawingTo(at))
        return;
    CustomScene::mouseMoveEvent(event);
}

void Skrin::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (currentTool == ToolNone) {
        if (isPictureItemUnder(event->scenePos()))
            event->accept();
        else
            CustomScene::mouseReleaseEvent(event);
        return;
    }
    // The release may lie beyond the last move Qt delivered: a line or shape
    // ends where the pointer is (a stroke took its last point with that move).
    if (event->button() == Qt::LeftButton && isDraggedShapeTool(currentTool))
        dragDrawingTo(event->scenePos());
    CustomScene::mouseReleaseEvent(event);
    // Only the left button's release ends its gesture.
    if (event->button() != Qt::LeftButton)
        return;
    creating = false;
    if (drawnItemId != 0) {
        if (SkrinItem *drawn = skrinItems.value(drawnItemId)) {
            clearSelection();
            drawn->graphicsItem()->setSelected(true);
        }
        drawnItemId = 0;
    }
}

void Skrin::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    // Texts and pin notes start editing on their own.
    CustomScene::mouseDoubleClickEvent(event);
}

void Skrin::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    event->accept();
    if (currentTool == ToolNone)
        return;
    if (skipContextMenu) {
        skipContextMenu = false;
        return;
    }
    emit showEditOptions(false);
}

void Skrin::keyPressEvent(QKeyEvent *event)
{
    // A text being edited takes its keys first.
    CustomScene::keyPressEvent(event);
    if (event->isAccepted())
        return;
    if (currentTool != ToolNone) {
        if (isDeleteKey(event)) {
            removeSelected();
            event->accept();
        }
        return;
    }
    const QKeySequence pressed(event->keyCombination());
    if (matches(QKeySequence(Qt::Key_Left), pressed))
        emit prevAction();
    else if (matches(QKeySequence(Qt::Key_Right), pressed))
        emit nextAction();
}
