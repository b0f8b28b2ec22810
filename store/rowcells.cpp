// The shared cells of one row.

#include "rowcells_p.h"

#include <algorithm>
#include <cstddef>
#include <new>

// Blocks follow the slab's header, each of its row's size; the slab counts
// the blocks still in use and the batch that is filling it.
struct alignas(alignof(std::max_align_t)) RowCells::Slab
{
    QAtomicInt ref;

    // Gives up one use of `slab` (if any), freeing it after the last.
    static void release(Slab *slab)
    {
        if (slab && !slab->ref.deref())
            ::operator delete(static_cast<void *>(slab));
    }
};

namespace {

// About this much memory to a slab.
constexpr size_t slabBytes = 8192;

void *allocateBlock(size_t header, int count)
{
    return ::operator new(header + size_t(count) * sizeof(Cell));
}

} // namespace

RowCells::RowCells(int count, const Cell &fill)
{
    count = std::max(count, 0);
    block = new (allocateBlock(sizeof(Block), count)) Block{QAtomicInt(1), count, nullptr};
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
    Slab *slab = block->slab;
    block->~Block();
    if (slab)
        Slab::release(slab);
    else
        ::operator delete(static_cast<void *>(block));
}

RowCells::Batch::Batch(int count)
    : count(std::max(count, 0))
    , blockBytes(sizeof(Block) + size_t(this->count) * sizeof(Cell))
    , perSlab(int(std::max<size_t>(1, slabBytes / blockBytes)))
{
    static_assert(sizeof(Slab) % alignof(Block) == 0 && sizeof(Block) % alignof(Cell) == 0);
}

RowCells::Batch::~Batch()
{
    Slab::release(slab);
}

RowCells RowCells::Batch::take()
{
    if (!slab || used == perSlab) {
        Slab::release(slab);
        slab = new (::operator new(sizeof(Slab) + size_t(perSlab) * blockBytes)) Slab{QAtomicInt(1)};
        used = 0;
    }
    void *at = reinterpret_cast<char *>(slab + 1) + size_t(used++) * blockBytes;
    slab->ref.ref();
    RowCells row;
    row.block = new (at) Block{QAtomicInt(1), count, slab};
    Cell *first = row.cells();
    for (int i = 0; i < count; ++i)
        new (first + i) Cell();
    return row;
}

void RowCells::detach()
{
    if (!block || block->ref.loadAcquire() == 1)
        return;
    const int count = block->count;
    Block *copy = new (allocateBlock(sizeof(Block), count)) Block{QAtomicInt(1), count, nullptr};
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
