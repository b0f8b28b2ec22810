#include "dotmanager.h"

#include "dot.h"

#include <QCursor>

DotManager::DotManager(QGraphicsItem *owner)
    : owner(owner)
{
}

DotManager::~DotManager()
{
    setDotCount(0);
}

void DotManager::setDotCount(int n)
{
    for (Dot *handle : std::as_const(dots)) {
        if (!handle)
            continue;
        handle->releaseManager(this);
        delete handle;
    }
    dots.clear();
    for (int i = 0; i < n; ++i)
        dots.prepend(new Dot(owner, this));
}

Dot *DotManager::dot(int index) const
{
    return index >= 0 && index < dots.size() ? dots.at(index) : nullptr;
}

int DotManager::indexOf(const Dot *handle) const
{
    return handle ? int(dots.indexOf(handle)) : -1;
}

void DotManager::setDotVisible(int index, bool visible)
{
    if (Dot *handle = dot(index); handle && handle->isVisible() != visible)
        handle->setVisible(visible);
}

void DotManager::setDotsVisible(bool visible)
{
    for (int i = 0; i < dots.size(); ++i)
        setDotVisible(i, visible);
}

void DotManager::setDotKind(int index, int kind)
{
    if (Dot *handle = dot(index))
        handle->setKind(kind);
}

void DotManager::setDotsKind(int kind)
{
    for (int i = 0; i < dots.size(); ++i)
        setDotKind(i, kind);
}

void DotManager::setDotCursor(int index, Qt::CursorShape shape)
{
    Dot *handle = dot(index);
    if (handle && (!handle->hasCursor() || handle->cursor().shape() != shape))
        handle->setCursor(shape);
}

void DotManager::setDotPos(int index, const QPointF &position)
{
    if (Dot *handle = dot(index))
        handle->setPos(position);
}

void DotManager::moveDot(int index, const QPointF &position)
{
    Dot *handle = dot(index);
    if (!handle)
        return;
    handle->setPos(position);
    notifyDotMoved(handle, position);
}

void DotManager::notifyDotMoved(Dot *handle, const QPointF &position)
{
    const int index = indexOf(handle);
    if (index >= 0)
        dotMoved(index, position);
}

void DotManager::removeDot(Dot *handle)
{
    dots.removeAll(handle);
}

void DotManager::dotMoved(int, const QPointF &)
{
}
