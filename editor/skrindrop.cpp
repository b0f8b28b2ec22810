// Drags and drops onto the scene: dragged screenshots arrive as editable
// copies of their annotation rows, other URLs as pasted picture files.

#include "skrin.h"

#include "itemcopier.h"
#include "mainwindowhost.h"
#include "paintlimits.h"
#include "skrinitem.h"
#include "skrinsmimedata.h"

#include <QDropEvent>
#include <QGraphicsItem>
#include <QGraphicsSceneDragDropEvent>
#include <QGraphicsView>
#include <QMimeData>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Only addresses are taken, and only as a copy whatever the source proposes:
// a move would let a file manager or the browser delete what was dropped. A
// source that offers no copy is refused, as Qt would tell it of a move.
// Both the view's events and the scene's that it passes on are answered
// alike, so the view reports the same answer. Items never see drags.
template<typename Event>
void answerDrag(Event *event)
{
    const QMimeData *mime = event->mimeData();
    if (mime && mime->hasUrls() && event->possibleActions().testFlag(Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace

void Skrin::dragEnterEvent(QGraphicsSceneDragDropEvent *event)
{
    answerDrag(event);
}

void Skrin::dragMoveEvent(QGraphicsSceneDragDropEvent *event)
{
    answerDrag(event);
}

void Skrin::dropEvent(QGraphicsSceneDragDropEvent *event)
{
    answerDrag(event);
    // The view passes its drop on here after viewDropEvent: the same answer.
    if (std::exchange(dropRefused, false))
        event->ignore();
}

void Skrin::viewDragEnterEvent(QDragEnterEvent *event)
{
    answerDrag(event);
}

void Skrin::viewDragMoveEvent(QDragMoveEvent *event)
{
    answerDrag(event);
}

void Skrin::viewDropEvent(QDropEvent *event)
{
    dropRefused = false;
    answerDrag(event);
    if (!event->isAccepted())
        return;
    const QMimeData *mime = event->mimeData();

    const QList<QByteArray> lines = SkrinsMimeData::uriListLines(mime);
    const QList<Id> ids = SkrinsMimeData::skrinIds(lines);
    if (ids.isEmpty()) {
        setTool(ToolSelect);
        clearSelection();
        // Other addresses give no local path and are passed over; files
        // that are refused are told, all in one message.
        QList<Id> imported;
        QStringList refused;
        for (const QByteArray &line : lines) {
            QString why;
            if (const Id image = addImageFile(QUrl::fromEncoded(line).toLocalFile(), &why))
                imported.append(image);
            else if (!why.isEmpty())
                refused.append(why);
        }
        // Every picture that arrived ends selected, not only the last.
        for (const Id image : std::as_const(imported)) {
            if (SkrinItem *item = skrinItems.value(image))
                item->graphicsItem()->setSelected(true);
        }
        if (!refused.isEmpty())
            tellNotPasted(tr("Paste file"), refused);
        if (imported.isEmpty()) {
            // Nothing was taken: the source must not take it for a copy made.
            dropRefused = true;
            event->setDropAction(Qt::IgnoreAction);
            event->ignore();
            return;
        }
        afterDrop();
        return;
    }

    // The screenshots arrive as rows; the file URLs that come with them (flat
    // copies of their pictures) are not imported.
    if (MainWindowHost *window = MainWindowHost::instance())
        window->setDragSkrinUsed(true);
    const QPointF dropPoint = pixelAtViewPoint(event->position().toPoint());
    if (!std::any_of(ids.cbegin(), ids.cend(), [this](Id source) { return source != id(); }))
        return;
    setTool(ToolSelect);
    // Once, so that every group that arrives ends selected; heard, so that a
    // picture leaving crop mode is told to the window.
    clearSelection();
    {
        // One selection notice for all copies, not one per arriving row.
        const QSignalBlocker quiet(this);
        for (const Id source : ids) {
            if (source != id())
                copyDroppedSkrin(source, dropPoint);
        }
    }
    emit selectionChanged();
    afterDrop();
}

// The group keeps its layout, its top left corner (the least position and
// line start) lands on the drop point, and it lies above everything there.
void Skrin::copyDroppedSkrin(Id source, const QPointF &dropPoint)
{
    // Annotations only: a screenshot may be the parent of rows of other kinds.
    const ItemCopier copier(childItems(source), itemTables());
    struct Source
    {
        double z;
        Id id;
        qsizetype row; // in the copier
        QPointF pos;
        QPointF begin; // where a line starts, from pos
    };
    std::vector<Source> order;
    order.reserve(size_t(copier.size()));
    for (qsizetype row = 0; row < copier.size(); ++row) {
        const auto real = [&](const QString &name) { return finiteReal(copier.member(row, name)); };
        order.push_back({real(QStringLiteral("z")), copier.source(row), row,
                         QPointF(real(QStringLiteral("x")), real(QStringLiteral("y"))),
                         QPointF(real(QStringLiteral("begin_x")), real(QStringLiteral("begin_y")))});
    }
    std::sort(order.begin(), order.end(),
              [](const Source &a, const Source &b) { return a.z != b.z ? a.z < b.z : a.id < b.id; });

    // The group's top left corner first: each copy then arrives placed.
    double minX = 0.0;
    double minY = 0.0;
    for (auto row = order.cbegin(); row != order.cend(); ++row) {
        if (row == order.cbegin()) {
            minX = row->pos.x();
            minY = row->pos.y();
        }
        minX = std::min(minX, row->pos.x() + row->begin.x());
        minY = std::min(minY, row->pos.y() + row->begin.y());
    }

    double z = maxZ();
    for (const Source &row : order) {
        const Members placement{{QStringLiteral("x"), row.pos.x() - minX + dropPoint.x()},
                                {QStringLiteral("y"), row.pos.y() - minY + dropPoint.y()},
                                {QStringLiteral("z"), z + 1.0},
                                {QStringLiteral("parent"), QVariant(id())}};
        if (copyRow(copier, row.row, placement) != 0)
            z += 1.0;
    }
}

void Skrin::afterDrop()
{
    modified = true;
    if (MainWindowHost *window = MainWindowHost::instance())
        window->selectCurrentInExplorer();
    if (QGraphicsView *v = view())
        v->setFocus(Qt::OtherFocusReason);
}
