#include "skrinblur.h"

#include "paintlimits.h"
#include "pixelate.h"
#include "skrinhost.h"

#include <QGraphicsScene>
#include <QHash>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <algorithm>

namespace {

// One entry per scene; painting happens on the GUI thread only.
QHash<const QGraphicsScene *, SkrinBlurCache> &caches()
{
    static QHash<const QGraphicsScene *, SkrinBlurCache> perScene;
    return perScene;
}

constexpr double freshMark = -1.0e9;

} // namespace

SkrinBlur::SkrinBlur(Id id, SkrinHost *skrin)
    : SkrinPen(id, skrin, QStringLiteral("x,y,z,data,pen_size"))
{
    // What a blur shows changes with everything below it.
    setPaintCache(NoCache);
}

QGraphicsScene *SkrinBlur::ownerScene() const
{
    return host() ? host()->hostScene() : scene();
}

void SkrinBlur::sceneCache(QGraphicsScene *scene)
{
    if (!scene)
        return;
    const QRectF sceneRect = scene->sceneRect();
    QSize size(qRound(sceneRect.width()), qRound(sceneRect.height()));
    if (!isCanvasSizeAllowed(size))
        size = QSize();
    SkrinBlurCache &entry = caches()[scene];
    if (entry.image.size() != size)
        entry.image = size.isEmpty() ? QImage() : QImage(size, QImage::Format_ARGB32_Premultiplied);
    entry.z = freshMark;
    entry.image.fill(SkrinHost::backgroundColor());
}

void SkrinBlur::dropSceneCache(QGraphicsScene *scene)
{
    caches().remove(scene);
}

const SkrinBlurCache *SkrinBlur::findSceneCache(const QGraphicsScene *scene)
{
    const auto found = caches().constFind(scene);
    return found == caches().constEnd() ? nullptr : &found.value();
}

void SkrinBlur::renderBelow(SkrinBlurCache &entry)
{
    const QGraphicsScene *current = scene();
    if (!current || entry.image.isNull())
        return;
    const double mark = entry.z;
    const double top = zValue();
    QList<QGraphicsItem *> below;
    const QList<QGraphicsItem *> all = current->items();
    for (QGraphicsItem *candidate : all) {
        if (candidate->zValue() > mark && candidate->zValue() <= top)
            below.append(candidate);
    }
    if (below.isEmpty())
        return;
    std::stable_sort(below.begin(), below.end(),
                     [](const QGraphicsItem *a, const QGraphicsItem *b) { return a->zValue() < b->zValue(); });

    const QPointF corner = current->sceneRect().topLeft();
    const QStyleOptionGraphicsItem plain; // nothing drawn as selected
    QPainter painter(&entry.image);
    for (QGraphicsItem *graphics : std::as_const(below)) {
        // Only annotations of the picture; handles and helpers stay out.
        const auto *annotation = dynamic_cast<const SkrinItem *>(graphics);
        if (!annotation || !annotation->isPartOfPicture())
            continue;
        painter.resetTransform();
        painter.translate(graphics->pos() - corner);
        entry.z = graphics->zValue();
        graphics->paint(&painter, &plain, nullptr);
    }
}

void SkrinBlur::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    const QRectF bounds = boundingRect();
    const QRectF sceneRect = scene() ? scene()->sceneRect() : QRectF();
    SkrinBlurCache &entry = caches()[ownerScene()];

    // This blur is among the items rendered: that nested call pixelates the
    // cache itself, so blurs higher up see this one's blocks.
    renderBelow(entry);

    const QRect unclipped(qRound(x() - sceneRect.x() + bounds.x()), qRound(y() - sceneRect.y() + bounds.y()),
                          qRound(bounds.width()), qRound(bounds.height()));
    const QRect area = unclipped.intersected(entry.image.rect());
    // Anchored at the clipped corner, so blocks stay under the stroke where
    // it reaches past the scene's left or top edge.
    const QPointF offset = bounds.topLeft() + QPointF(area.topLeft() - unclipped.topLeft());
    if (!entry.image.isNull() && !area.isEmpty())
        pixelateUnderMask(painter, entry.image, area, polygon(), pen().widthF(), offset);
    paintSelectionFrame(painter, option, bounds);
    entry.z = zValue();
}
