// Null test, cell equality and index ordering of stored values.
//
// Qt 6 changed what QVariant says about null values and equality and dropped
// its ordering, so the store decides these itself, in one place.

#include "database_p.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>
#include <cstring>
#include <limits>

bool isNullValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return true;
    switch (value.typeId()) {
    case QMetaType::QString:
        return qvariant_cast<QString>(value).isNull();
    case QMetaType::QByteArray:
        return qvariant_cast<QByteArray>(value).isNull();
    case QMetaType::QDateTime:
        return qvariant_cast<QDateTime>(value).isNull();
    case QMetaType::QDate:
        return qvariant_cast<QDate>(value).isNull();
    case QMetaType::QTime:
        return qvariant_cast<QTime>(value).isNull();
    default:
        return false;
    }
}

namespace {

// A numeric value kept exactly: integers as 64-bit integers (unsigned only
// beyond the signed range), floating-point values as doubles.
struct Number
{
    enum Kind { Signed, Unsigned, Real } kind = Signed;
    qint64 s = 0;
    quint64 u = 0;
    double d = 0.0;
};

bool isNumeric(int typeId)
{
    switch (typeId) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

Number numberOf(const QVariant &value)
{
    Number n;
    switch (value.typeId()) {
    case QMetaType::Float:
    case QMetaType::Double:
        n.kind = Number::Real;
        n.d = value.toDouble();
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        n.u = value.toULongLong();
        if (n.u > quint64(std::numeric_limits<qint64>::max())) {
            n.kind = Number::Unsigned;
        } else {
            n.kind = Number::Signed;
            n.s = qint64(n.u);
        }
        break;
    default:
        n.kind = Number::Signed;
        n.s = value.toLongLong();
        break;
    }
    return n;
}

// A double equals an integer only when it holds exactly that integer; no
// rounding (toLongLong() would make 2.5 equal 3).
bool realEqualsInteger(double d, const Number &integer)
{
    if (!std::isfinite(d) || std::trunc(d) != d)
        return false;
    constexpr double twoTo63 = 9223372036854775808.0;
    constexpr double twoTo64 = 18446744073709551616.0;
    if (integer.kind == Number::Unsigned)
        return d >= twoTo63 && d < twoTo64 && quint64(d) == integer.u;
    return d >= -twoTo63 && d < twoTo63 && qint64(d) == integer.s;
}

bool numbersEqual(const QVariant &a, const QVariant &b)
{
    const Number x = numberOf(a);
    const Number y = numberOf(b);
    if (x.kind == Number::Real && y.kind == Number::Real)
        return x.d == y.d;
    if (x.kind == Number::Real)
        return realEqualsInteger(x.d, y);
    if (y.kind == Number::Real)
        return realEqualsInteger(y.d, x);
    if (x.kind != y.kind)
        return false; // one lies beyond the signed range, the other inside it
    return x.kind == Number::Signed ? x.s == y.s : x.u == y.u;
}

bool isText(int typeId)
{
    return typeId == QMetaType::QString || typeId == QMetaType::QByteArray;
}

// SQLite hands date-times back as ISO text; they must still equal the
// QDateTime they were written from, whatever the text's precision.
bool dateTimeEqualsText(const QDateTime &dateTime, const QVariant &text)
{
    const QDateTime parsed = QDateTime::fromString(text.toString().trimmed(), Qt::ISODateWithMs);
    return parsed.isValid() && parsed == dateTime;
}

} // namespace

bool cellEquals(const QVariant &stored, const QVariant &value)
{
    // A cell that was never set equals only a value that has no type either;
    // a typed null written there is a change the file must see.
    if (!stored.isValid() || !value.isValid())
        return stored.isValid() == value.isValid();

    // Both null means NULL in the file whatever the types; null against a
    // value (even "" or 0) is a difference.
    const bool storedNull = isNullValue(stored);
    const bool valueNull = isNullValue(value);
    if (storedNull || valueNull)
        return storedNull && valueNull;

    const int left = stored.typeId();
    const int right = value.typeId();
    if (isNumeric(left) && isNumeric(right))
        return numbersEqual(stored, value);
    // Text against a number compares as numbers, whichever side holds the
    // text ("05" equals 5, "" does not equal 0), as Qt itself does.
    if (isNumeric(left) && isText(right)) {
        QVariant number = value;
        return number.convert(stored.metaType()) && numbersEqual(stored, number);
    }
    if (isText(left) && isNumeric(right)) {
        QVariant number = stored;
        return number.convert(value.metaType()) && numbersEqual(number, value);
    }
    if (left == QMetaType::QDateTime && isText(right))
        return dateTimeEqualsText(qvariant_cast<QDateTime>(stored), value);
    if (right == QMetaType::QDateTime && isText(left))
        return dateTimeEqualsText(qvariant_cast<QDateTime>(value), stored);
    if (left == right)
        return stored == value;

    QVariant converted = value;
    if (!converted.convert(stored.metaType()))
        return false;
    return stored == converted;
}

IndexKey IndexKey::of(const QVariant &value)
{
    // Every null (untyped, typed null string, SQL NULL) sorts as one value,
    // together with the empty string.
    IndexKey key;
    if (isNullValue(value))
        return key;
    key.number = value.toLongLong();
    key.bytes = value.toByteArray();
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::QString:
        key.plain = true;
        break;
    default:
        break;
    }
    return key;
}

bool operator<(const IndexKey &a, const IndexKey &b)
{
    if (a.number != b.number)
        return a.number < b.number;
    const qsizetype common = qMin(a.bytes.size(), b.bytes.size());
    if (common > 0) {
        // memcmp compares as unsigned bytes
        const int c = std::memcmp(a.bytes.constData(), b.bytes.constData(), size_t(common));
        if (c != 0)
            return c < 0;
    }
    return a.bytes.size() < b.bytes.size();
}

bool variantLess(const QVariant &a, const QVariant &b)
{
    return IndexKey::of(a) < IndexKey::of(b);
}
