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

namespace {

// The value held by `value`, which must be of type T: a reference, where
// qvariant_cast would copy (and so touch a reference count).
template<typename T>
const T &held(const QVariant &value)
{
    return *static_cast<const T *>(value.constData());
}

} // namespace

namespace store_internal {

bool isWholeNumberType(int typeId)
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
        return true;
    default:
        return false;
    }
}

} // namespace store_internal

bool isNullValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return true;
    switch (value.typeId()) {
    case QMetaType::QString:
        return held<QString>(value).isNull();
    case QMetaType::QByteArray:
        return held<QByteArray>(value).isNull();
    case QMetaType::QDateTime:
        return held<QDateTime>(value).isNull();
    case QMetaType::QDate:
        return held<QDate>(value).isNull();
    case QMetaType::QTime:
        return held<QTime>(value).isNull();
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
    return store_internal::isWholeNumberType(typeId) || typeId == QMetaType::Float || typeId == QMetaType::Double;
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

// A text against a number: the text read as the number's kind. Whole
// numbers read it at full width, where Qt's conversion to a narrower type
// would wrap ("9223372036854775807" would equal the int -1). A flag is the
// whole number the file holds for it, 1 or 0: Qt would read any text but
// "0" and "false" as true, and "" as false.
bool numberEqualsText(const QVariant &number, const QVariant &text)
{
    QVariant converted = text;
    const int type = number.typeId();
    if (type == QMetaType::Float || type == QMetaType::Double)
        return converted.convert(number.metaType()) && numbersEqual(number, converted);
    if (converted.convert(QMetaType::fromType<qlonglong>()))
        return numbersEqual(number, converted);
    converted = text;
    return converted.convert(QMetaType::fromType<qulonglong>()) && numbersEqual(number, converted);
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

    // Both null means NULL in the file whatever the types. A null and ""
    // mean the same to every reader of the file and to other clients, so
    // going from one to the other is no change; null against any other
    // value (0 included) is a difference.
    const bool storedNull = isNullValue(stored);
    const bool valueNull = isNullValue(value);
    if (storedNull || valueNull) {
        if (storedNull && valueNull)
            return true;
        const QVariant &other = storedNull ? value : stored;
        return (other.typeId() == QMetaType::QString && held<QString>(other).isEmpty())
               || (other.typeId() == QMetaType::QByteArray && held<QByteArray>(other).isEmpty());
    }

    const int left = stored.typeId();
    const int right = value.typeId();
    if (isNumeric(left) && isNumeric(right))
        return numbersEqual(stored, value);
    // Text against a number compares as numbers, whichever side holds the
    // text ("05" equals 5, "" does not equal 0), as Qt itself does.
    if (isNumeric(left) && isText(right))
        return numberEqualsText(stored, value);
    if (isText(left) && isNumeric(right))
        return numberEqualsText(value, stored);
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

namespace {

// The first eight of `size` bytes as one big-endian number, zero-padded:
// comparing two heads compares those bytes as unsigned bytes.
quint64 headOf(const char *bytes, qsizetype size)
{
    quint64 head = 0;
    for (qsizetype i = 0; i < 8; ++i)
        head = (head << 8) | (i < size ? uchar(bytes[i]) : 0u);
    return head;
}

// The decimal text of `number` into `buffer` (at least 20 characters), as
// QByteArray::number writes it; gives its length.
qsizetype decimalText(qint64 number, char *buffer)
{
    char digits[20];
    qsizetype count = 0;
    // Works on the magnitude as unsigned, which also holds the lowest qint64.
    quint64 magnitude = number < 0 ? 0 - quint64(number) : quint64(number);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    qsizetype length = 0;
    if (number < 0)
        buffer[length++] = '-';
    while (count > 0)
        buffer[length++] = digits[--count];
    return length;
}

// The first eight bytes of the UTF-8 form of well-formed UTF-16 text.
quint64 utf8Head(QStringView text)
{
    char bytes[8];
    qsizetype size = 0;
    for (qsizetype i = 0; i < text.size() && size < 8; ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c))
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        char encoded[4];
        qsizetype length;
        if (c < 0x80) {
            encoded[0] = char(c);
            length = 1;
        } else if (c < 0x800) {
            encoded[0] = char(0xc0 | (c >> 6));
            encoded[1] = char(0x80 | (c & 0x3f));
            length = 2;
        } else if (c < 0x10000) {
            encoded[0] = char(0xe0 | (c >> 12));
            encoded[1] = char(0x80 | ((c >> 6) & 0x3f));
            encoded[2] = char(0x80 | (c & 0x3f));
            length = 3;
        } else {
            encoded[0] = char(0xf0 | (c >> 18));
            encoded[1] = char(0x80 | ((c >> 12) & 0x3f));
            encoded[2] = char(0x80 | ((c >> 6) & 0x3f));
            encoded[3] = char(0x80 | (c & 0x3f));
            length = 4;
        }
        for (qsizetype k = 0; k < length && size < 8; ++k)
            bytes[size++] = encoded[k];
    }
    return headOf(bytes, size);
}

// What one look at a text tells about it.
struct TextScan
{
    bool mayBeNumber = false; // Qt's parsing must decide its number
    bool wellFormed = true;   // no unpaired surrogate (UTF-8 would replace it)
};

TextScan scanText(QStringView text)
{
    TextScan scan;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c >= u'0' && c <= u'9')
                scan.mayBeNumber = true;
            continue;
        }
        // Without an ASCII digit no text is a number, but leave anything
        // beyond ASCII to Qt's own parsing rather than guess.
        scan.mayBeNumber = true;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
        else if (QChar::isSurrogate(c))
            scan.wellFormed = false;
    }
    return scan;
}

// A UTF-16 code unit moved so that comparing units orders well-formed text
// by code points, as its UTF-8 bytes order: surrogates (which stand for code
// points above U+FFFF) go above U+E000..U+FFFF.
inline char32_t codePointOrder(char16_t unit)
{
    if (unit < 0xd800)
        return unit;
    return unit >= 0xe000 ? char32_t(unit - 0x800) : char32_t(unit + 0x2000);
}

int compareText(QStringView a, QStringView b)
{
    const qsizetype common = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x != y)
            return codePointOrder(x) < codePointOrder(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int compareRaw(const QByteArray &a, const QByteArray &b)
{
    const qsizetype common = qMin(a.size(), b.size());
    if (common > 0) {
        // memcmp compares as unsigned bytes
        const int c = std::memcmp(a.constData(), b.constData(), size_t(common));
        if (c != 0)
            return c;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The order of the bytes of two keys whose numbers are equal.
int compareBytes(const IndexKey &a, const IndexKey &b)
{
    if (a.bytes.index() == b.bytes.index()) {
        if (const QString *text = std::get_if<QString>(&a.bytes))
            return compareText(*text, std::get<QString>(b.bytes));
        if (const QByteArray *raw = std::get_if<QByteArray>(&a.bytes))
            return compareRaw(*raw, std::get<QByteArray>(b.bytes));
        return 0; // the decimal texts of equal numbers
    }
    // Different forms tie on number and head only rarely ("5" against 5).
    return compareRaw(a.byteArray(), b.byteArray());
}

} // namespace

IndexKey IndexKey::of(const QVariant &value)
{
    // Every null (untyped, typed null string, SQL NULL) sorts as one value,
    // together with the empty string.
    IndexKey key;
    if (isNullValue(value))
        return key;

    const auto raw = [&key, &value] {
        QByteArray bytes = value.toByteArray();
        key.head = headOf(bytes.constData(), bytes.size());
        key.bytes = std::move(bytes);
    };
    const auto decimal = [&key](qint64 number) {
        key.number = number;
        key.bytes = std::monostate();
        key.head = decimalHead(number);
    };
    switch (value.typeId()) {
    case QMetaType::Int:
        decimal(held<int>(value));
        key.plain = true;
        return key;
    case QMetaType::UInt:
        decimal(held<uint>(value));
        key.plain = true;
        return key;
    case QMetaType::LongLong:
        decimal(held<qlonglong>(value));
        key.plain = true;
        return key;
    case QMetaType::ULongLong:
        // Beyond the signed range toLongLong() wraps while the text does not.
        if (held<qulonglong>(value) <= quint64(std::numeric_limits<qint64>::max())) {
            decimal(qint64(held<qulonglong>(value)));
            return key;
        }
        break;
    case QMetaType::QString: {
        const QString &text = held<QString>(value);
        const TextScan scan = scanText(text);
        // An unpaired surrogate's bytes ("?") are those of other texts too.
        key.plain = scan.wellFormed;
        key.number = scan.mayBeNumber ? value.toLongLong() : 0;
        if (text.isEmpty())
            return key; // no bytes, as for a null
        if (scan.wellFormed) {
            key.head = utf8Head(text);
            key.bytes = text;
        } else {
            raw();
        }
        return key;
    }
    default:
        break;
    }
    key.number = value.toLongLong();
    raw();
    return key;
}

QByteArray IndexKey::byteArray() const
{
    if (const QString *text = std::get_if<QString>(&bytes))
        return text->toUtf8();
    if (const QByteArray *raw = std::get_if<QByteArray>(&bytes))
        return *raw;
    return QByteArray::number(number);
}

quint64 IndexKey::decimalHead(qint64 number)
{
    char text[20];
    return headOf(text, decimalText(number, text));
}

int IndexKey::compareWithCell(const IndexKey &key, const QVariant &cell, bool cellIsText)
{
    if (cellIsText) {
        if (const QString *text = std::get_if<QString>(&key.bytes))
            return compareText(*text, held<QString>(cell));
    }
    return compare(key, IndexKey::of(cell));
}

int IndexKey::compare(const IndexKey &a, const IndexKey &b)
{
    if (a.number != b.number)
        return a.number < b.number ? -1 : 1;
    if (a.head != b.head)
        return a.head < b.head ? -1 : 1;
    return compareBytes(a, b);
}

bool variantLess(const QVariant &a, const QVariant &b)
{
    return IndexKey::of(a) < IndexKey::of(b);
}
