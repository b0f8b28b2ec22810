// Edit operations on the scene's selection: remove, duplicate, order in z,
// text editing, pen options and fonts. They write rows; the items follow.

#include "skrin.h"

#include "database.h"
#include "drawingtools.h"
#include "itemcopier.h"
#include "paintlimits.h"
#include "skrinitem.h"
#include "skrintext.h"
#include "storedfont.h"

#include <QGraphicsItem>
#include <QScopedValueRollback>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// The selected annotations, in selection order.
QList<SkrinItem *> selectedAnnotations(const QList<QGraphicsItem *> &selected)
{
    QList<SkrinItem *> annotations;
    for (QGraphicsItem *graphics : selected) {
        if (auto *item = dynamic_cast<SkrinItem *>(graphics))
            annotations.append(item);
    }
    return annotations;
}

// A text row's font, none for a row without one.
std::optional<QFont> storedFont(Id itemId, PointSizes sizes)
{
    const QVariantMap row = readItem(itemId);
    if (row.value(QStringLiteral("font_name")).toString().isEmpty())
        return std::nullopt;
    return fontFromMembers(row, sizes);
}

} // namespace

void Skrin::removeSelected()
{
    const QList<SkrinItem *> annotations = selectedAnnotations(selectedItems());
    // Ids first: each removal deletes its graphics item at once.
    QList<Id> ids;
    for (SkrinItem *item : annotations)
        ids.append(item->id());
    removeRows(ids);
}

void Skrin::removeRows(const QList<Id> &ids)
{
    for (const Id itemId : ids)
        ::removeItem(itemId);
    if (!ids.isEmpty())
        modified = true;
}

Id Skrin::copyRow(const ItemCopier &copier, qsizetype row, const Members &placement)
{
    const QScopedValueRollback<bool> selecting(selectArrivals, true);
    return copier.copy(row, placement);
}

void Skrin::duplicateSelected()
{
    const QList<QGraphicsItem *> selected = selectedItems();
    QList<Id> sources;
    for (SkrinItem *item : selectedAnnotations(selected))
        sources.append(item->id());
    const ItemCopier copier(sources);
    // Cleared where it is heard: a picture in crop mode leaves it, and the
    // window unmarks its Crop button.
    clearSelection();
    // One selection notice for the whole batch, not one per arriving copy
    // (each would walk the growing selection).
    QSignalBlocker quiet(this);
    double top = maxZ();
    for (qsizetype row = 0; row < copier.size(); ++row) {
        const Members placement{{QStringLiteral("x"), copier.member(row, QStringLiteral("x")).toDouble() + 10.0},
                                {QStringLiteral("y"), copier.member(row, QStringLiteral("y")).toDouble() + 10.0},
                                {QStringLiteral("z"), top + 1.0},
                                {QStringLiteral("parent"), QVariant(id())}};
        const Id newId = copyRow(copier, row, placement);
        // Each copy lands on top. Only its own z is new, unless pins were
        // put above it again: no walk over every item per copy.
        if (pinCount > 0)
            top = maxZ();
        else if (SkrinItem *copy = skrinItems.value(newId))
            top = std::max(top, copy->graphicsItem()->zValue());
    }
    if (!selected.isEmpty())
        modified = true;
    quiet.unblock();
    emit selectionChanged();
}

void Skrin::moveSelectionUp()
{
    moveSelectionZ(true);
}

void Skrin::moveSelectionDown()
{
    moveSelectionZ(false);
}

// The selection moves as one block, keeping its inner order and spacing, so
// that its lowest (highest) member lands 1.0 above (below) the highest
// (lowest) z found above (below) it.
void Skrin::moveSelectionZ(bool up)
{
    const QList<QGraphicsItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    const auto byZ = [](const QGraphicsItem *a, const QGraphicsItem *b) { return a->zValue() < b->zValue(); };
    const double ref = up ? (*std::min_element(selected.cbegin(), selected.cend(), byZ))->zValue()
                          : (*std::max_element(selected.cbegin(), selected.cend(), byZ))->zValue();
    double target = ref;
    const QList<QGraphicsItem *> all = items();
    for (const QGraphicsItem *graphics : all) {
        const double z = graphics->zValue();
        if (up && z > ref)
            target = std::max(target, z + 1.0);
        else if (!up && z < ref)
            target = std::min(target, z - 1.0);
    }
    if (target == ref)
        return;
    const QList<SkrinItem *> annotations = selectedAnnotations(selected);
    for (SkrinItem *item : annotations)
        item->setMember(QStringLiteral("z"), item->memberReal(QStringLiteral("z")) + (target - ref), true, true);
    normaliseZ();
    modified = true;
}

void Skrin::toggleTextEdit()
{
    auto *text = dynamic_cast<SkrinText *>(selectedItem());
    if (!text)
        return;
    if (text->isEditing())
        text->stopEditing();
    else
        text->startEditing(true);
}

void Skrin::applyPenOptions(const double *penSize, const QColor *color, const QFont *font)
{
    if (currentTool != ToolNone && currentTool != ToolSelect) {
        SkrinToolOptions &options = currentToolOptions();
        if (penSize)
            options.penSize = *penSize;
        if (color)
            options.color = *color;
        // The tool keeps its family and style; only the size follows.
        if (font && font->pointSize() > 0)
            options.font.setPointSize(font->pointSize());
    }
    const QList<QGraphicsItem *> selected = selectedItems();
    for (SkrinItem *item : selectedAnnotations(selected)) {
        const int tool = toolForItem(item->id());
        if (tool == ToolNone)
            continue;
        if (penSize)
            item->setMember(QStringLiteral("pen_size"), penSizeInPicture(*penSize), true, true);
        if (color)
            item->setColor(QStringLiteral("color"), *color, true);
        if (font && toolHasOption(tool, FontOption))
            writeFont(item->id(), fontInPicture(*font));
    }
    if (!selected.isEmpty())
        modified = true;
}

QFont Skrin::currentFont() const
{
    if (const SkrinItem *item = selectedItem())
        return fontOnScreen(item->id());
    return font();
}

double Skrin::penSizeOnScreen(const SkrinItem *item) const
{
    return item->memberReal(QStringLiteral("pen_size")) / viewPixelWidth();
}

QFont Skrin::fontInPicture(const QFont &onScreen) const
{
    QFont font = onScreen;
    if (onScreen.pointSizeF() > 0.0)
        font.setPointSizeF(onScreen.pointSizeF() * viewPixelWidth());
    else if (onScreen.pixelSize() > 0)
        font.setPixelSize(int(std::lround(onScreen.pixelSize() * viewPixelWidth())));
    return font;
}

SkrinToolOptions Skrin::currentToolOptionsInPicture()
{
    SkrinToolOptions options = currentToolOptions();
    options.penSize = penSizeInPicture(options.penSize);
    options.font = fontInPicture(options.font);
    return options;
}

QFont Skrin::fontOnScreen(Id itemId) const
{
    const std::optional<QFont> stored = storedFont(itemId, PointSizes::Fractional);
    if (!stored)
        return QFont();
    QFont font = *stored;
    // Whole points, the fraction dropped as the tool bar always has; the hair
    // keeps 18 / 1.5 from coming out as 11.999.
    constexpr double hair = 1e-6;
    font.setPointSize(clampFontPointSize(font.pointSizeF() / viewPixelWidth() + hair));
    return font;
}

void Skrin::writeFont(Id itemId, const QFont &font)
{
    Item row(itemId);
    const Members members = fontMembers(font);
    for (const auto &[member, value] : members)
        row.setMember(member, value, true);
    modified = true;
}

QFont Skrin::readFont(Id itemId)
{
    return storedFont(itemId, PointSizes::Whole).value_or(QFont());
}

int Skrin::toolForItem(Id itemId) const
{
    return skrinItems.contains(itemId) ? toolForTable(itemType(itemId)) : ToolNone;
}

int Skrin::optionsTool() const
{
    const SkrinItem *item = selectedItem();
    return item ? toolForItem(item->id()) : currentTool;
}
