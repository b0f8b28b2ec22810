#include "toolbarrows_p.h"

#include <QWidget>

#include <algorithm>

namespace {

// A widget's own hint also while it is hidden: a hidden button still counts
// when every button is asked for, and the divider counts before it is shown.
QSize hintOf(const QLayoutItem *item)
{
    return item->widget() ? item->widget()->sizeHint() : item->sizeHint();
}

} // namespace

ToolBarRows::ToolBarRows(int spacing)
{
    setSpacing(spacing);
    setContentsMargins(0, 0, 0, 0);
}

ToolBarRows::~ToolBarRows()
{
    for (const Entry &entry : std::as_const(entries))
        delete entry.item;
}

void ToolBarRows::addWidget(QWidget *widget, Role role)
{
    addChildWidget(widget);
    entries.append({new QWidgetItem(widget), role});
    invalidate();
}

void ToolBarRows::addItem(QLayoutItem *item)
{
    entries.append({item, Tool});
    invalidate();
}

int ToolBarRows::count() const
{
    return int(entries.size());
}

QLayoutItem *ToolBarRows::itemAt(int index) const
{
    return index >= 0 && index < entries.size() ? entries.at(index).item : nullptr;
}

QLayoutItem *ToolBarRows::takeAt(int index)
{
    if (index < 0 || index >= entries.size())
        return nullptr;
    QLayoutItem *item = entries.takeAt(index).item;
    invalidate();
    return item;
}

bool ToolBarRows::setWidthLimit(int width)
{
    width = std::max(width, 0);
    if (width == limit)
        return false;
    limit = width;
    invalidate();
    return true;
}

QSize ToolBarRows::rowSize(const Row &row) const
{
    QSize size(0, 0);
    for (const QLayoutItem *item : row) {
        const QSize hint = hintOf(item);
        size.rwidth() += hint.width();
        size.rheight() = std::max(size.height(), hint.height());
    }
    if (!row.isEmpty())
        size.rwidth() += spacing() * int(row.size() - 1);
    return size;
}

QList<ToolBarRows::Row> ToolBarRows::rows(int width, bool everyButton, QSize *size) const
{
    Row tools;
    Row options;
    QLayoutItem *divider = nullptr;
    int widest = 0;
    for (const Entry &entry : entries) {
        if (entry.role == Divider) {
            divider = entry.item;
            continue;
        }
        if (!everyButton && entry.item->isEmpty())
            continue;
        (entry.role == Option ? options : tools).append(entry.item);
        widest = std::max(widest, hintOf(entry.item).width());
    }
    Row one = tools;
    if (!options.isEmpty()) {
        if (divider)
            one.append(divider);
        one += options;
    }
    *size = rowSize(one);
    if (size->width() <= width)
        return {one};

    const int perRow = std::max(1, (width + spacing()) / (widest + spacing()));
    QList<Row> result;
    *size = QSize(0, 0);
    for (const Row *group : {&options, &tools}) {
        for (qsizetype first = 0; first < group->size(); first += perRow) {
            result.append(group->mid(first, perRow));
            const QSize row = rowSize(result.last());
            size->rwidth() = std::max(size->width(), row.width());
            size->rheight() += row.height() + (result.size() > 1 ? spacing() : 0);
        }
    }
    return result;
}

bool ToolBarRows::fitsOneRow() const
{
    QSize size;
    return rows(limit, false, &size).size() <= 1;
}

QSize ToolBarRows::sizeWithEveryButton(int width) const
{
    QSize size;
    rows(width, true, &size);
    return size;
}

QSize ToolBarRows::sizeHint() const
{
    QSize size;
    rows(limit, false, &size);
    return size;
}

QSize ToolBarRows::minimumSize() const
{
    return sizeHint();
}

QSize ToolBarRows::maximumSize() const
{
    return sizeHint();
}

Qt::Orientations ToolBarRows::expandingDirections() const
{
    return {};
}

void ToolBarRows::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    QSize size;
    const QList<Row> laid = rows(limit, false, &size);
    // Centred in what the panel gives, which may hold its shaded margin.
    int y = rect.top() + std::max(0, (rect.height() - size.height()) / 2);
    const int left = rect.left() + std::max(0, (rect.width() - size.width()) / 2);
    for (const Row &row : laid) {
        const int height = rowSize(row).height();
        int x = left;
        for (QLayoutItem *item : row) {
            const QSize hint = hintOf(item);
            item->setGeometry(QRect(QPoint(x, y + (height - hint.height()) / 2), hint));
            x += hint.width() + spacing();
        }
        y += height + spacing();
    }
}
