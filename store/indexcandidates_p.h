#pragma once

// Where in a value index the cells lie that a lookup must find.
//
// A lookup finds the cells that cellEquals() the wanted value, and those do
// not all share its key: the real 1e6 ("1e+06"), the texts "05" and " 5"
// and the integer 5 ("5") are equal as cells and apart in the index. The
// candidates are the few stretches of the index where such cells can lie;
// every entry in them still has to pass cellEquals(), except where its key
// alone proves it.

#include "valueindex_p.h"

#include <QVarLengthArray>

struct IndexCandidates
{
    struct Span
    {
        ValueIndex::const_iterator first;
        ValueIndex::const_iterator last;
    };

    // False when the index cannot narrow this lookup (a value whose equals
    // it cannot foresee, such as a date-time or a flag): scan instead.
    bool narrows = false;
    // The entries index-equal to the wanted value: the likeliest matches,
    // newest first. `ownCovered`: they lie inside `others` too.
    Span own;
    bool ownCovered = false;
    QVarLengthArray<Span, 8> others;
    // The wanted value's key, and for a whole number the number itself.
    IndexKey wanted;
    bool wantedInteger = false;

    static IndexCandidates of(const ValueIndex &index, const ColumnCells &cells, const QVariant &value);

    // True when the entry's key alone shows that its cell equals the wanted
    // value, so the row need not be read. `inOwn`: the entry is from `own`.
    bool proves(const ValueIndex::Entry &entry, bool inOwn) const
    {
        if (inOwn && wanted.plain && entry.plain)
            return true;
        return wantedInteger && entry.form == ValueIndex::Decimal && qint64(entry.slot) == wanted.number;
    }

    // Calls visit(entry, inOwn) for each candidate entry, `own` first, until
    // it returns false. An entry may come twice.
    template<typename Visit>
    void forEach(Visit &&visit, bool ownAgain = true) const
    {
        if (ownAgain || !ownCovered) {
            for (auto it = own.first; !(it == own.last); ++it) {
                if (!visit(*it, true))
                    return;
            }
        }
        for (const Span &span : others) {
            for (auto it = span.first; !(it == span.last); ++it) {
                if (!visit(*it, false))
                    return;
            }
        }
    }
};
