// The shared cells of one row.

#include "rowcells_p.h"

#include <algorithm>
#include <new>

namespace {

void *allocateBlock(size_t header, int count)
{
    return ::operator new(header + size_t(count) * sizeof(Cell));
}

} // namespace

RowCells::RowCells(int count, const Cell &fill)
{
    count = std::max(count, 0);
    block = new (allocateBlock(sizeof(Block), count)) Block{QAtomicInt(1), count};
    Cell *first = cells();
    for (int i = 0; i < count; ++i)
        new (first + i) Cell(fill);
}

RowCells::~RowCells()
{
    if (!block || block->ref.deref())
        return;
    Cell *first = cells();
    for (int i = 0; i < block->count; ++i)
        first[i].~Cell();
    block->~Block();
    ::operator delete(static_cast<void *>(block));
}

void RowCells::detach()
{
    if (!block || block->ref.loadAcquire() == 1)
        return;
    const int count = block->count;
    Block *copy = new (allocateBlock(sizeof(Block), count)) Block{QAtomicInt(1), count};
    Cell *to = reinterpret_cast<Cell *>(copy + 1);
    const Cell *from = cells();
    for (int i = 0; i < count; ++i)
        new (to + i) Cell(from[i]);
    RowCells old;
    old.block = std::exchange(block, copy);
}

void RowCells::set(int column, Cell &&cell)
{
    if (column < 0 || column >= size())
        return;
    detach();
    cells()[column] = std::move(cell);
}

QVector<QVariant> RowCells::values() const
{
    QVector<QVariant> result;
    result.reserve(size());
    for (int i = 0; i < size(); ++i)
        result.append(at(i));
    return result;
}
