// The stretches of a value index where the cells equal to a wanted value
// can lie, worked out from what cellEquals() makes equal:
// - numbers equal numbers of the same value, whatever their types, and their
//   keys are few: the integer's, the double's and the float's text, "-0",
//   "true" and "false";
// - a number equals a text that Qt converts to it. A text in integer form
//   ("05", " +5") has that integer as its key's number; any other ("5.0",
//   "1e6") has the number 0, and begins with a space, a sign, a point, a
//   digit or the "i" of "inf";
// - a text equals the same text, the same bytes, the numbers it converts to
//   (a flag where it reads as the whole number 1 or 0), and the date-times it
//   reads as (whose key is the null's).
// Whatever falls outside these rules (flags and date-times wanted, integers
// beyond the doubles' exact range, unusual cell types) is left to a scan.

#include "indexcandidates_p.h"

#include "database.h"

#include <QDateTime>

#include <cmath>
#include <limits>

namespace {

using Span = IndexCandidates::Span;

// The first key with this number: no bytes.
IndexKey numberStart(qint64 number)
{
    IndexKey key;
    key.number = number;
    return key;
}

// The first key with the number 0 whose bytes begin with `byte`.
IndexKey byteStart(uchar byte)
{
    IndexKey key;
    key.head = quint64(byte) << 56;
    key.bytes = QByteArray(1, char(byte));
    return key;
}

class Collector
{
public:
    Collector(const ValueIndex &index, const ColumnCells &cells, IndexCandidates &result)
        : index(index), cells(cells), result(result)
    {
    }

    // The entries index-equal to the value's key.
    void exact(const QVariant &value)
    {
        const auto [first, last] = index.equalRange(IndexKey::of(value), cells);
        add(first, last);
    }

    // Every entry whose key has this number.
    void number(qint64 number)
    {
        add(index.lowerBound(numberStart(number), cells),
            number == std::numeric_limits<qint64>::max() ? index.end() : index.lowerBound(numberStart(number + 1), cells));
    }

    // Entries with the number 0 whose bytes begin with a byte in [low, high].
    void leading(uchar low, uchar high)
    {
        add(index.lowerBound(byteStart(low), cells),
            high == 0xff ? index.lowerBound(numberStart(1), cells) : index.lowerBound(byteStart(uchar(high + 1)), cells));
    }

    // Texts with the number 0 that may read as a number: in integer form
    // only 0 itself, in any form every value.
    void numberTexts(bool anyForm, bool infinite)
    {
        leading(0x09, 0x0d); // ASCII white space
        leading(' ', ' ');
        leading('+', '+');
        if (anyForm) {
            leading('-', '.');
            leading('0', '9');
            // Unicode white space, which a real's text may begin with.
            leading(0xc2, 0xc2);
            leading(0xe1, 0xe3);
        } else {
            leading('-', '-');
            leading('0', '0');
        }
        if (infinite) {
            leading('I', 'I');
            leading('i', 'i');
        }
    }

private:
    void add(ValueIndex::const_iterator first, ValueIndex::const_iterator last)
    {
        if (!(first == last))
            result.others.append(Span{first, last});
    }

    const ValueIndex &index;
    const ColumnCells &cells;
    IndexCandidates &result;
};

// Doubles hold every whole number up to 2^53 exactly; beyond, a text in
// integer form may read as a neighbouring value.
constexpr double exactLimit = 9007199254740992.0;

void collectInteger(Collector &collect, qint64 number, bool anyTextForm)
{
    if (number != 0) {
        collect.number(number);
        if (anyTextForm)
            collect.numberTexts(true, false);
        return;
    }
    collect.exact(QVariant(false));
    collect.numberTexts(anyTextForm, false);
}

// A double or float: false when the index cannot narrow it.
bool collectReal(Collector &collect, double real)
{
    if (std::isnan(real))
        return true; // equals nothing
    if (std::isinf(real)) {
        collect.exact(QVariant(real));
        collect.exact(QVariant(float(real)));
        collect.numberTexts(true, true);
        return true;
    }
    if (std::abs(real) >= exactLimit)
        return false;
    if (std::trunc(real) == real) {
        collectInteger(collect, qint64(real), true);
        return true;
    }
    if (double(float(real)) == real)
        collect.exact(QVariant(float(real)));
    collect.numberTexts(true, false);
    return true;
}

// The value converted to `T` as cellEquals() converts it; false when it does
// not convert.
template<typename T>
bool converted(const QVariant &value, T *result)
{
    QVariant copy = value;
    if (!copy.convert(QMetaType::fromType<T>()))
        return false;
    *result = copy.value<T>();
    return true;
}

// A text: false when the index cannot narrow it.
bool collectText(Collector &collect, const QVariant &text)
{
    // Bytes that are not UTF-8 read as U+FFFD; their keys lie elsewhere.
    if (text.typeId() == QMetaType::QString && text.toString().contains(QChar::ReplacementCharacter))
        return false;
    qint64 integer = 0;
    if (converted(text, &integer)) {
        collect.exact(QVariant(integer));
        // A flag is the whole number 1 or 0.
        if (integer == 0 || integer == 1)
            collect.exact(QVariant(integer == 1));
    }
    quint64 unsignedInteger = 0;
    if (converted(text, &unsignedInteger) && unsignedInteger > quint64(std::numeric_limits<qint64>::max()))
        collect.exact(QVariant(unsignedInteger));
    double real = 0;
    if (converted(text, &real)) {
        collect.exact(QVariant(real));
        if (real == 0)
            collect.exact(QVariant(-0.0));
    }
    float single = 0;
    if (converted(text, &single)) {
        collect.exact(QVariant(single));
        if (single == 0)
            collect.exact(QVariant(-0.0f));
    }
    // Date-times have the null's key.
    if (QDateTime::fromString(text.toString().trimmed(), Qt::ISODateWithMs).isValid())
        collect.exact(QVariant());
    return true;
}

} // namespace

IndexCandidates IndexCandidates::of(const ValueIndex &index, const ColumnCells &cells, const QVariant &value)
{
    IndexCandidates result;
    if (index.hasUnusualCells() || isNullValue(value))
        return result;
    result.wanted = IndexKey::of(value);
    Collector collect(index, cells, result);
    bool narrows = true;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        result.wantedInteger = true;
        collectInteger(collect, value.toLongLong(), false);
        break;
    case QMetaType::ULongLong:
        result.wantedInteger = value.toULongLong() <= quint64(std::numeric_limits<qint64>::max());
        narrows = result.wantedInteger;
        if (narrows)
            collectInteger(collect, value.toLongLong(), false);
        break;
    case QMetaType::Double:
        narrows = collectReal(collect, value.toDouble());
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        narrows = collectText(collect, value);
        break;
    default:
        // A float reads texts as floats, which round whole numbers; a flag
        // equals nearly every text; a date-time every text of its instant.
        narrows = false;
        break;
    }
    if (!narrows) {
        result.others.clear();
        return result;
    }
    result.narrows = true;
    const auto [first, last] = index.equalRange(result.wanted, cells);
    result.own = Span{first, last};
    // A whole number's own entries lie in the stretch of its number, and
    // those of 0 among the texts beginning with "0".
    result.ownCovered = result.wantedInteger
                        || (value.typeId() == QMetaType::Double && std::trunc(value.toDouble()) == value.toDouble()
                            && std::isfinite(value.toDouble()));
    return result;
}
