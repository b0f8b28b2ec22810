#include "dotmanager.h"

#include "dot.h"

#include <QCursor>

DotManager::DotManager(QGraphicsItem *owner)
    : owner(owner)
{
}

DotManager::~DotManager()
{
    deleteDots();
}

void DotManager::setDotCount(int n)
{
    deleteDots();
    states = QVector<DotState>(qMax(n, 0));
}

void DotManager::deleteDots()
{
    for (Dot *handle : std::as_const(dots)) {
        handle->releaseManager(this);
        delete handle;
    }
    dots.clear();
}

void DotManager::makeDots() const
{
    if (dotsMade() || states.isEmpty())
        return;
    // Made last to first, as the stacking order of equal handles has always been.
    dots.resize(states.size());
    for (qsizetype i = states.size() - 1; i >= 0; --i) {
        const DotState &state = states.at(i);
        Dot *handle = new Dot(owner, const_cast<DotManager *>(this));
        handle->setPos(state.position);
        handle->setKind(state.kind);
        if (state.hasCursor)
            handle->setCursor(state.cursor);
        dots[i] = handle;
    }
}

Dot *DotManager::dot(int index) const
{
    if (index < 0 || index >= states.size())
        return nullptr;
    makeDots();
    return dots.at(index);
}

int DotManager::indexOf(const Dot *handle) const
{
    return handle ? int(dots.indexOf(handle)) : -1;
}

void DotManager::setDotVisible(int index, bool visible)
{
    // A handle not made yet is hidden already.
    if (index < 0 || index >= states.size() || (!visible && !dotsMade()))
        return;
    if (Dot *handle = dot(index); handle->isVisible() != visible)
        handle->setVisible(visible);
}

void DotManager::setDotsVisible(bool visible)
{
    for (int i = 0; i < states.size(); ++i)
        setDotVisible(i, visible);
}

void DotManager::setDotKind(int index, int kind)
{
    if (index < 0 || index >= states.size())
        return;
    states[index].kind = kind;
    if (dotsMade())
        dots.at(index)->setKind(kind);
}

void DotManager::setDotsKind(int kind)
{
    for (int i = 0; i < states.size(); ++i)
        setDotKind(i, kind);
}

void DotManager::setDotCursor(int index, Qt::CursorShape shape)
{
    if (index < 0 || index >= states.size())
        return;
    if (dotsMade()) {
        Dot *handle = dots.at(index);
        if (!handle->hasCursor() || handle->cursor().shape() != shape)
            handle->setCursor(shape);
        return;
    }
    states[index].cursor = shape;
    states[index].hasCursor = true;
}

void DotManager::setDotPos(int index, const QPointF &position)
{
    if (index < 0 || index >= states.size())
        return;
    states[index].position = position;
    if (dotsMade())
        dots.at(index)->setPos(position);
}

void DotManager::moveDot(int index, const QPointF &position)
{
    if (index < 0 || index >= states.size())
        return;
    setDotPos(index, position);
    dotMoved(index, position);
}

void DotManager::notifyDotMoved(Dot *handle, const QPointF &position)
{
    const int index = indexOf(handle);
    if (index >= 0)
        dotMoved(index, position);
}

void DotManager::removeDot(Dot *handle)
{
    const int index = indexOf(handle);
    if (index < 0)
        return;
    dots.removeAt(index);
    states.removeAt(index);
}

void DotManager::dotMoved(int, const QPointF &)
{
}
