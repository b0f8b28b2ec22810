#pragma once

// One column's value index: the table's rows in the order of their cells'
// keys (IndexKey), and among index-equal keys the row entered last first.
//
// An entry holds the row number and a part of its key (the number, or the
// first eight bytes), not a copy of the value: where that part does not
// decide an order, the index reads the row's cell. So a cell must keep the value its
// row was entered with until the row's entry is erased. Entries lie in
// sorted chunks of a few hundred, which an insertion shifts and a full one
// splits: a few bytes a row, where a tree would spend a node.

#include "indexkey_p.h"
#include "tablerows_p.h"

#include <utility>
#include <vector>

// The cells of one column, which an index reads to order its entries.
struct ColumnCells
{
    const TableRows &rows;
    int column;

    // The row's cell; a null value for a missing row or cell.
    QVariant at(int row) const
    {
        const RowCells *cells = rows.find(row);
        return cells && column >= 0 && column < cells->size() ? cells->at(column) : QVariant();
    }
};

class ValueIndex
{
public:
    static constexpr int stampBits = 27;
    // What an entry keeps of its key. Most keys are whole numbers, or texts
    // that read as the number 0: of these the entry keeps what orders them
    // in most comparisons.
    enum Form : quint32 {
        Decimal, // an integer: `slot` is its number, and the key is complete
        Head,    // number 0: `slot` is the first eight bytes
        Number,  // any other: `slot` is the number
    };
    struct Entry
    {
        quint64 slot;
        int row;
        // Orders index-equal keys: the higher stamp, entered later, first.
        quint32 stamp : stampBits;
        quint32 form : 2;
        // The key's bytes are the cell's own text.
        quint32 text : 1;
        // IndexKey::plain of the key.
        quint32 plain : 1;
    };
    using Chunks = std::vector<std::vector<Entry>>;

    class const_iterator
    {
    public:
        const_iterator() = default;
        const Entry &operator*() const { return (*chunks)[chunk][at]; }
        const Entry *operator->() const { return &(*chunks)[chunk][at]; }
        const_iterator &operator++()
        {
            if (++at == (*chunks)[chunk].size()) {
                ++chunk;
                at = 0;
            }
            return *this;
        }
        bool operator==(const const_iterator &other) const { return chunk == other.chunk && at == other.at; }

    private:
        friend class ValueIndex;
        const_iterator(const Chunks *chunks, size_t chunk, size_t at)
            : chunks(chunks), chunk(chunk), at(at)
        {
        }
        const Chunks *chunks = nullptr;
        size_t chunk = 0;
        size_t at = 0;
    };

    const_iterator begin() const { return const_iterator(&chunks, 0, 0); }

    const_iterator end() const { return const_iterator(&chunks, chunks.size(), 0); }
    size_t size() const { return count; }

    // The first entry whose key is not before `key`, and the first after it.
    const_iterator lowerBound(const IndexKey &key, const ColumnCells &cells) const;
    const_iterator upperBound(const IndexKey &key, const ColumnCells &cells) const;
    std::pair<const_iterator, const_iterator> equalRange(const IndexKey &key, const ColumnCells &cells) const
    {
        return {lowerBound(key, cells), upperBound(key, cells)};
    }

    // Enters the row with its current cell, before the entries of equal
    // keys; a row that has an entry keeps it.
    void insert(int row, const ColumnCells &cells);
    // Removes the row's entry, if any. The row's cell must still hold the
    // value the row was entered with.
    void erase(int row, const ColumnCells &cells);

    // One entry for each key, in index order (ascending keys, among equal
    // keys the one to count as entered last first): the whole index anew.
    static Entry entryOf(const IndexKey &key, int row);
    // The same from the parts of a key: `decimal` and `text` say which form
    // of bytes it holds.
    static Entry entryOf(qint64 number, quint64 head, bool decimal, bool text, bool plain, int row);
    // `unusual`: how many of the entries' cells isUnusual() holds for.
    void assign(std::vector<Entry> &&sorted, size_t unusual = 0);

    // A cell whose type no lookup foresees the keys of (not a number, a text,
    // a date-time or a null): while the index holds one, lookups scan.
    static bool isUnusual(const QVariant &cell);
    bool hasUnusualCells() const { return unusualCells > 0; }

    // Stamps are renumbered once the last one handed out reaches `limit`
    // (lowered by tests, which cannot wait for the real one).
    void setStampLimit(quint32 limit) { stampLimit = limit; }

private:
    struct Position
    {
        size_t chunk;
        size_t at;
    };
    // The first entry not before (key, stamp) in the order of (key
    // ascending, stamp descending).
    Position seek(const IndexKey &key, quint32 stamp, const ColumnCells &cells) const;
    void place(Position position, const Entry &entry);
    void removeAt(Position position);
    // Gives every entry a new stamp in the same order, from `count` down.
    void renumber();
    quint32 stampOf(int row) const { return row > 0 && size_t(row) < stamps.size() ? stamps[size_t(row)] : 0; }
    void setStamp(int row, quint32 stamp);

    Chunks chunks;               // each non-empty; together in index order
    std::vector<quint32> stamps; // by row number: its entry's stamp, 0 for none
    size_t count = 0;
    size_t unusualCells = 0;
    quint32 lastStamp = 0;
    quint32 stampLimit = (quint32(1) << stampBits) - 1;
};
