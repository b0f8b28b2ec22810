#pragma once

// The key a value index orders by.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <variant>

// Computed once per value: QVariant has no ordering of its own in Qt 6.
// Ordering follows variantLess: by `number`, then by the unsigned bytes of
// the value's toByteArray(). Those bytes are held in the cheapest form that
// orders the same, so that keys of integers and texts cost no allocation of
// their own.
struct IndexKey
{
    // The bytes compared after the number, as one of:
    // - std::monostate: the decimal text of `number` (integers), made only
    //   when a comparison with another form needs it;
    // - QString: well-formed UTF-16 text (shared with the cell, not copied),
    //   whose UTF-8 bytes order as its code points;
    // - QByteArray: the bytes themselves (every other type, nulls as empty).
    using Bytes = std::variant<std::monostate, QString, QByteArray>;

    qint64 number = 0;
    // The first eight bytes, big-endian and zero-padded, so that most
    // comparisons end without looking at `bytes`.
    quint64 head = 0;
    Bytes bytes = QByteArray();
    // Not part of the order: set for integers and non-null strings, where two
    // equal keys always mean cellEquals() holds, so a lookup need not read
    // the row to confirm a match.
    bool plain = false;

    static IndexKey of(const QVariant &value);
    // Negative, zero or positive as a orders before, index-equal to or after b.
    static int compare(const IndexKey &a, const IndexKey &b);
    // compare(key, IndexKey::of(cell)) for a cell whose key has the same
    // number and head as `key`. `cellIsText` says that the cell's key holds
    // the cell's own text, which is then compared in place.
    static int compareWithCell(const IndexKey &key, const QVariant &cell, bool cellIsText);
    // The head of an integer's key.
    static quint64 decimalHead(qint64 number);
    // The bytes as toByteArray() gives them.
    QByteArray byteArray() const;
    friend bool operator<(const IndexKey &a, const IndexKey &b) { return compare(a, b) < 0; }
};
