#pragma once

// The cells of one row in one block, shared between copies until one of
// them changes a cell: the flush takes a row for the price of a reference
// count, as it would a QVector, at half the memory of QVariant cells and
// without a second allocation.

#include "cell_p.h"

#include <QAtomicInt>
#include <QVector>

#include <utility>

class RowCells
{
    struct Slab;

public:
    // Makes the rows of one reading, `count` cells each, a few dozen to an
    // allocation: threads reading tables side by side would otherwise queue
    // on the allocator's lock for every row. A slab's memory goes back when
    // the last of its rows has gone.
    class Batch
    {
    public:
        explicit Batch(int count);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
        // A row of `count` cells without a value.
        RowCells take();

    private:
        int count;
        size_t blockBytes;
        int perSlab;
        int used = 0;
        Slab *slab = nullptr;
    };

    RowCells() = default;
    // `count` cells without a value, or each a copy of `fill`.
    explicit RowCells(int count, const Cell &fill = Cell());
    RowCells(const RowCells &other)
        : block(other.block)
    {
        if (block)
            block->ref.ref();
    }
    RowCells(RowCells &&other) noexcept
        : block(std::exchange(other.block, nullptr))
    {
    }
    RowCells &operator=(RowCells other) noexcept
    {
        std::swap(block, other.block);
        return *this;
    }
    ~RowCells();

    bool isNull() const { return !block; }
    // Whether both are copies of one block: no cell of either was set since
    // one was copied from the other.
    bool sharesCellsWith(const RowCells &other) const { return block == other.block; }
    int size() const { return block ? block->count : 0; }
    // The cell's value; `column` must be in range.
    QVariant at(int column) const { return cells()[column].value(); }
    const Cell *constData() const { return block ? cells() : nullptr; }
    void set(int column, const QVariant &value) { set(column, Cell(value)); }
    void set(int column, Cell &&cell);
    // set() for a row nobody else holds yet (fresh from a Batch): no copy
    // is looked for. `column` must be in range.
    void put(int column, Cell &&cell) { cells()[column] = std::move(cell); }
    QVector<QVariant> values() const;

private:
    struct Block
    {
        QAtomicInt ref;
        int count;
        Slab *slab; // the batch's allocation it lives in, or null for its own
    };
    static_assert(sizeof(Block) % alignof(Cell) == 0);
    Cell *cells() const { return reinterpret_cast<Cell *>(block + 1); }
    void detach();

    Block *block = nullptr;
};
