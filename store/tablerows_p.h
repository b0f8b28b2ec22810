#pragma once

// The rows of one table by row number. Row numbers are dense from 1 and never
// reused while the tables live, so a vector indexed by them serves as the
// map: a fraction of a tree's memory, and a row found without a search.

#include "rowcells_p.h"

#include <algorithm>
#include <utility>
#include <vector>

class TableRows
{
public:
    int size() const { return count; }
    bool isEmpty() const { return count == 0; }

    // The row's cells; nullptr when there is no such row.
    const RowCells *find(int row) const { return contains(row) ? &cells[size_t(row)] : nullptr; }
    RowCells *find(int row) { return contains(row) ? &cells[size_t(row)] : nullptr; }

    // Adds a row under a number that is not in use (numbers of removed rows
    // included: they stay unused).
    void insert(int row, RowCells &&rowCells)
    {
        if (row < 1 || contains(row) || rowCells.isNull())
            return;
        if (size_t(row) >= cells.size())
            cells.resize(size_t(row) + 1);
        cells[size_t(row)] = std::move(rowCells);
        ++count;
    }

    bool erase(int row)
    {
        if (!contains(row))
            return false;
        cells[size_t(row)] = RowCells();
        --count;
        return true;
    }

    // The first row after `row` (after none for 0); 0 when there is none.
    int next(int row) const
    {
        for (size_t at = size_t(std::max(row, 0)) + 1; at < cells.size(); ++at) {
            if (!cells[at].isNull())
                return int(at);
        }
        return 0;
    }

    // The highest row number in use; 0 when there is none.
    int last() const
    {
        for (size_t at = cells.size(); at-- > 1;) {
            if (!cells[at].isNull())
                return int(at);
        }
        return 0;
    }

    // Room for rows numbered up to `last`.
    void reserve(int last) { cells.reserve(size_t(std::max(last, 0)) + 1); }

private:
    bool contains(int row) const { return row > 0 && size_t(row) < cells.size() && !cells[size_t(row)].isNull(); }

    std::vector<RowCells> cells; // by row number; slot 0 unused
    int count = 0;
};
