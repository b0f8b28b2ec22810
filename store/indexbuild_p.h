#pragma once

// Building value indexes whole: each row's key reduced to the parts an
// index entry holds, sorted, then handed to the index. A table's own rows
// are indexed under tableMutex; a snapshot of them, or the rows of a table
// being loaded, which nobody else sees, without it.

#include "valueindex_p.h"

#include <vector>

namespace store_internal {

// One entry of a value index in the making: the parts of its key that
// decide most comparisons. Where they tie, the keys are compared through the
// cells, which must stay as they are until the index is made.
struct IndexEntry
{
    qint64 number;
    quint64 head;
    int row;
    // The key's bytes are the decimal text of its number: two such entries
    // with equal numbers are index-equal.
    bool decimal;
    // The key's bytes are the cell's own text.
    bool text;
    bool plain;

    static IndexEntry of(const IndexKey &key, int row);
    // The entry of a cell holding a whole number, made without a key and
    // without its head: 0, which the text of no number starts with.
    // sortIntoIndexOrder makes it where the column needs it.
    static IndexEntry ofInteger(qint64 number, int row);
};

// Puts a column's entries, one per row in ascending row order, into the
// order of its value index and appends them to `sorted` as the index's
// entries (ValueIndex::assign takes them); `cells` are that column's.
// `entries` are used up.
void sortIntoIndexOrder(std::vector<IndexEntry> &entries, const ColumnCells &cells,
                        std::vector<ValueIndex::Entry> &sorted);

// The value indexes of `columns` (each in range, none twice) over `rows`, in
// the order of `columns`. A large table is walked by several threads where
// somebody waits for the indexes, by the calling thread alone where nobody
// does (`waited` false): a build in the background leaves the other cores
// to the program.
std::vector<ValueIndex> buildIndexesOf(const TableRows &rows, const std::vector<int> &columns, bool waited = true);

} // namespace store_internal
