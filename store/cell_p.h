#pragma once

// One stored cell in 16 bytes, half of a QVariant: a store holds millions of
// them. Numbers, nulls and texts are kept in place; a short Latin-1 text
// (most names, handles and file names) needs no allocation of its own, a
// longer one keeps the text block of its QString, shared with every copy; a
// date-time in UTC is kept as its milliseconds; any other value is boxed in
// a QVariant. value() gives back exactly the QVariant the cell was made
// from: its type, and whether it was a typed null.
// A long Latin-1 text read from the file (drawn strokes as JSON; longer than
// dates and names, which are read often) keeps its bytes, half the memory of
// UTF-16, shared with every copy; value() widens it each time.

#include <QString>
#include <QVariant>

#include <cstring>

class Cell
{
public:
    Cell() = default;
    explicit Cell(const QVariant &value);
    Cell(const Cell &other);
    Cell(Cell &&other) noexcept
    {
        std::memcpy(static_cast<void *>(this), static_cast<const void *>(&other), sizeof(Cell));
        other.tag = Untyped;
    }
    Cell &operator=(const Cell &other)
    {
        if (this != &other) {
            Cell copy(other);
            swap(copy);
        }
        return *this;
    }
    Cell &operator=(Cell &&other) noexcept
    {
        Cell moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~Cell()
    {
        if (kind() >= Text)
            release();
    }

    // The cells a load reads, made without a QVariant on the way.
    static Cell integer(qint64 number);
    static Cell real(double number);
    static Cell typedNullText(); // NULL as it comes from SQLite
    static Cell latin1(const char *text, qsizetype size);
    static Cell text(const QString &text);
    static Cell utcDateTime(qint64 msecsSinceEpoch);

    QVariant value() const;
    // The address of a text's characters, for prefetching; nullptr if none.
    const void *textData() const;

    void swap(Cell &other) noexcept
    {
        unsigned char scratch[sizeof(Cell)];
        std::memcpy(scratch, static_cast<const void *>(this), sizeof(Cell));
        std::memcpy(static_cast<void *>(this), static_cast<const void *>(&other), sizeof(Cell));
        std::memcpy(static_cast<void *>(&other), scratch, sizeof(Cell));
    }

private:
    enum Kind : quint8 {
        Untyped,    // QVariant()
        TypedNull,  // a null QVariant of type QString
        NullString, // a QVariant holding a null QString
        LongLong,
        Int,
        Double,
        Bool,
        Latin1, // up to inlineSize characters in place
        UtcDateTime, // milliseconds since the epoch
        // Kinds that own something:
        Text,       // a QString's text block and its size
        Latin1Text, // a block of Latin-1 bytes and its size
        Boxed,      // a QVariant of its own
    };
    static constexpr qsizetype inlineSize = 15;
    static constexpr qsizetype widenedLatin1Size = 64; // longer Latin-1 texts stay Latin-1
    static constexpr int kindBits = 4;

    Kind kind() const { return Kind(tag & ((1 << kindBits) - 1)); }
    qsizetype inlineLength() const { return tag >> kindBits; }
    template <typename T>
    T load() const
    {
        T value;
        std::memcpy(&value, raw, sizeof(T));
        return value;
    }
    template <typename T>
    void store(Kind newKind, T value)
    {
        std::memcpy(raw, &value, sizeof(T));
        tag = newKind;
    }
    void setText(const QString &text);
    void setBlock(Kind blockKind, QArrayData *block, qsizetype size);
    quint32 blockSize() const;
    void release();

    // The value, or for Text and Latin1Text the block then its size
    // (quint32) at byte 8; for Latin1 the characters.
    alignas(8) unsigned char raw[15] = {};
    // The kind in the low bits; a Latin1 text's length above them.
    quint8 tag = Untyped;
};

static_assert(sizeof(Cell) == 16);
