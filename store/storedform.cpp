// What a value becomes in a column of the file.
//
// The flush binds what memory holds, and SQLite then converts it by the
// column's affinity (a number into a text column becomes text, rounded to 15
// digits; a text that reads as a number into a numeric column becomes that
// number). Doing both conversions when a value is stored, exactly and in
// one place, makes memory hold what a restart reads back.

#include "storedform_p.h"

#include "database_p.h"
#include "isotime.h"
#include "storelog.h"

#include <QAnyStringView>

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace {

template<typename T>
const T &held(const QVariant &value)
{
    return *static_cast<const T *>(value.constData());
}

QVariant typedNull()
{
    return QVariant(QMetaType::fromType<QString>());
}

// SQLite's own conversions between numbers and texts, asked of a private
// in-memory database per thread: the rules of its affinity (which texts
// count, how they round, how a real is written) are its own, and only it
// gives them exactly.
class NumberReader
{
public:
    NumberReader()
    {
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK
            || sqlite3_exec(db, "CREATE TABLE a(k INTEGER PRIMARY KEY, n NUMERIC, r REAL)", nullptr, nullptr, nullptr)
                   != SQLITE_OK
            || sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO a VALUES (1, ?1, ?1)", -1, &put, nullptr) != SQLITE_OK
            || sqlite3_prepare_v2(db, "SELECT n, r FROM a", -1, &get, nullptr) != SQLITE_OK
            // As a TEXT column converts what is written into it.
            || sqlite3_prepare_v2(db, "SELECT CAST(?1 AS TEXT)", -1, &text, nullptr) != SQLITE_OK) {
            qCWarning(lcStore).noquote() << "Database: cannot convert numbers as SQLite does:" << sqlite3_errmsg(db);
            ready = false;
        }
    }
    ~NumberReader()
    {
        sqlite3_finalize(put);
        sqlite3_finalize(get);
        sqlite3_finalize(text);
        sqlite3_close(db);
    }
    NumberReader(const NumberReader &) = delete;
    NumberReader &operator=(const NumberReader &) = delete;

    // The real as a text column stores it: 15 significant digits, always a
    // point ("5.0", "1.0e+300"), infinities as "Inf" and "-Inf".
    QString textOf(double d)
    {
        if (!ready)
            return QString::number(d, 'g', 15);
        QString result;
        sqlite3_bind_double(text, 1, d);
        if (sqlite3_step(text) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(text, 0)),
                                       sqlite3_column_bytes(text, 0));
        sqlite3_reset(text);
        return result;
    }

    // The text as a numeric (or, with `real`, a REAL) column stores it.
    QVariant read(const QString &text, bool real)
    {
        if (!ready)
            return text;
        QVariant result = text;
        sqlite3_bind_text16(put, 1, text.utf16(), int(text.size() * qsizetype(sizeof(QChar))), SQLITE_STATIC);
        if (sqlite3_step(put) == SQLITE_DONE && sqlite3_step(get) == SQLITE_ROW) {
            const int column = real ? 1 : 0;
            switch (sqlite3_column_type(get, column)) {
            case SQLITE_INTEGER:
                result = QVariant(qint64(sqlite3_column_int64(get, column)));
                break;
            case SQLITE_FLOAT:
                result = QVariant(sqlite3_column_double(get, column));
                break;
            default:
                break;
            }
        }
        sqlite3_reset(put);
        sqlite3_reset(get);
        sqlite3_clear_bindings(put);
        return result;
    }

private:
    sqlite3 *db = nullptr;
    sqlite3_stmt *put = nullptr;
    sqlite3_stmt *get = nullptr;
    sqlite3_stmt *text = nullptr;
    bool ready = true;
};

NumberReader &numberReader()
{
    thread_local NumberReader reader;
    return reader;
}

// Whether SQLite could read the text as a number at all: its numbers are
// made of ASCII digits, signs, points, exponents and white space only. Most
// texts fail at their first letter, without asking SQLite.
bool mayBeNumber(const QString &text)
{
    bool digit = false;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'0': case u'1': case u'2': case u'3': case u'4':
        case u'5': case u'6': case u'7': case u'8': case u'9':
            digit = true;
            break;
        case u' ': case u'\t': case u'\n': case u'\v': case u'\f': case u'\r':
        case u'+': case u'-': case u'.': case u'e': case u'E':
            break;
        default:
            return false;
        }
    }
    return digit;
}

QVariant numericText(const QString &text, bool real)
{
    if (!mayBeNumber(text))
        return text;
    return numberReader().read(text, real);
}

// A real as a numeric column keeps it: whole values that fit as integers.
QVariant numericReal(double d)
{
    constexpr double twoTo63 = 9223372036854775808.0;
    if (std::trunc(d) == d && d > -twoTo63 && d < twoTo63)
        return QVariant(qint64(d));
    return QVariant(d);
}

// A real as a REAL column gives it back: a zero without its sign, since
// SQLite keeps whole reals as integers.
QVariant realReal(double d)
{
    return QVariant(d == 0 ? 0.0 : d);
}

enum class Class { Null, Integer, Real, Text, Blob, DateTime, Other };

// The value's class, and for numbers the number.
Class classOf(const QVariant &value, qint64 *integer, double *real)
{
    if (!value.isValid() || isNullValue(value))
        return Class::Null;
    switch (value.typeId()) {
    case QMetaType::Bool:
        *integer = held<bool>(value) ? 1 : 0;
        return Class::Integer;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        if (value.toULongLong() <= quint64(std::numeric_limits<qint64>::max())) {
            *integer = qint64(value.toULongLong());
            return Class::Integer;
        }
        return Class::Other; // beyond the integers the file holds: as its text
    case QMetaType::Double:
        *real = held<double>(value);
        return std::isnan(*real) ? Class::Null : Class::Real; // SQLite stores NaN as NULL
    case QMetaType::QString:
        return Class::Text;
    case QMetaType::QByteArray:
        return Class::Blob;
    case QMetaType::QDateTime:
        return held<QDateTime>(value).isValid() ? Class::DateTime : Class::Null;
    default:
        if (!store_internal::isWholeNumberType(value.typeId()))
            return Class::Other;
        *integer = value.toLongLong();
        return Class::Integer;
    }
}

// Whether `value` is already as a column of `kind` holds it: the common
// case, a text for a text column or a number for a numeric one.
bool isStoredForm(const QVariant &value, ColumnKind kind)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return kind == ColumnKind::Text && !held<QString>(value).isNull();
    case QMetaType::LongLong:
        return (kind == ColumnKind::Integer || kind == ColumnKind::Numeric || kind == ColumnKind::DateTime)
               && !value.isNull();
    case QMetaType::Double: {
        const double d = held<double>(value);
        return kind == ColumnKind::Real && !value.isNull() && d != 0 && !std::isnan(d);
    }
    default:
        return false;
    }
}

} // namespace

ColumnKind columnKindOf(QStringView type)
{
    const QString upper = type.toString().toUpper();
    if (upper.trimmed() == QLatin1String("DATETIME"))
        return ColumnKind::DateTime;
    if (upper.contains(QLatin1String("INT")))
        return ColumnKind::Integer;
    if (upper.contains(QLatin1String("CHAR")) || upper.contains(QLatin1String("CLOB"))
        || upper.contains(QLatin1String("TEXT")))
        return ColumnKind::Text;
    if (upper.contains(QLatin1String("BLOB")) || upper.trimmed().isEmpty())
        return ColumnKind::Blob;
    if (upper.contains(QLatin1String("REAL")) || upper.contains(QLatin1String("FLOA"))
        || upper.contains(QLatin1String("DOUB")))
        return ColumnKind::Real;
    return ColumnKind::Numeric;
}

QVariant storedForm(const QVariant &value, ColumnKind kind)
{
    if (kind == ColumnKind::Unbound || !value.isValid() || isStoredForm(value, kind))
        return value;
    qint64 integer = 0;
    double real = 0;
    Class type = classOf(value, &integer, &real);
    if (type == Class::Null)
        return typedNull();

    // Texts of their own, and date-times outside a date-time column, are
    // written as text; what follows treats them as texts.
    QString text;
    if (type == Class::Other) {
        text = value.toString();
        type = Class::Text;
    } else if (type == Class::DateTime) {
        const QDateTime utc = held<QDateTime>(value).toUTC();
        // ISO 8601 text has four digits of year.
        const int year = utc.date().year();
        if (kind == ColumnKind::DateTime && year >= 1 && year <= 9999)
            return QVariant(utc);
        text = utcText(utc);
        type = Class::Text;
    } else if (type == Class::Text) {
        text = held<QString>(value);
    }

    switch (kind) {
    case ColumnKind::Integer:
    case ColumnKind::Numeric:
    case ColumnKind::DateTime:
        switch (type) {
        case Class::Integer:
            return QVariant(integer);
        case Class::Real:
            return numericReal(real);
        case Class::Text: {
            QVariant number = numericText(text, false);
            if (number.typeId() != QMetaType::QString || kind != ColumnKind::DateTime)
                return number;
            qint64 msecs = 0;
            if (utcFromText(text, &msecs))
                return QVariant(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
            return number;
        }
        default:
            return value;
        }
    case ColumnKind::Real:
        switch (type) {
        case Class::Integer:
            return QVariant(double(integer));
        case Class::Real:
            return realReal(real);
        case Class::Text: {
            const QVariant number = numericText(text, true);
            return number.typeId() == QMetaType::Double ? realReal(number.toDouble()) : number;
        }
        default:
            return value;
        }
    case ColumnKind::Text:
        switch (type) {
        case Class::Integer:
            return QVariant(QString::number(integer));
        case Class::Real:
            return QVariant(numberReader().textOf(real));
        case Class::Text:
            return QVariant(text);
        default:
            return value;
        }
    case ColumnKind::Blob:
    case ColumnKind::Unbound:
        switch (type) {
        case Class::Integer:
            return QVariant(integer);
        case Class::Real:
            return QVariant(real);
        case Class::Text:
            return QVariant(text);
        default:
            return value;
        }
    }
    return value;
}

bool sameStoredValue(const QVariant &cell, const QVariant &form)
{
    // Texts, the most common cells, and their nulls, are told apart at once.
    if (cell.typeId() == QMetaType::QString && form.typeId() == QMetaType::QString) {
        const QString &a = held<QString>(cell);
        const QString &b = held<QString>(form);
        return a.isNull() || b.isNull() ? a.isNull() == b.isNull() : a == b;
    }
    const bool cellNull = isNullValue(cell);
    const bool formNull = isNullValue(form);
    if (cellNull || formNull)
        return cellNull == formNull;
    if (cell.typeId() != form.typeId())
        return false;
    switch (cell.typeId()) {
    case QMetaType::Double:
        return held<double>(cell) == held<double>(form);
    case QMetaType::QDateTime:
        return held<QDateTime>(cell) == held<QDateTime>(form);
    default:
        return cell == form;
    }
}

namespace {

bool utcFromAnyForm(QAnyStringView text, qint64 *msecs)
{
    // Qt's reading, as every reader of these texts uses; a text without an
    // offset is local time, which this store does not convert.
    const QDateTime parsed = QDateTime::fromString(text.toString().trimmed(), Qt::ISODateWithMs);
    if (!parsed.isValid() || parsed.timeSpec() == Qt::LocalTime)
        return false;
    *msecs = parsed.toMSecsSinceEpoch();
    return true;
}

// Only a text that ends in "Z" or an offset can name an instant; most texts
// (and every local one) are told apart by their end alone.
template<typename Text>
bool mayCarryOffset(const Text &text)
{
    const qsizetype size = text.size();
    if (size < 11)
        return false;
    const char16_t last = text.at(size - 1).unicode();
    if (last == u'Z' || last == u'z')
        return true;
    if (last < u'0' || last > u'9')
        return false;
    // "+hh", "+hhmm" or "+hh:mm" at the end.
    for (qsizetype back = 3; back <= 6 && back <= size; ++back) {
        const char16_t c = text.at(size - back).unicode();
        if (c == u'+' || c == u'-')
            return true;
    }
    return false;
}

// The forms this store writes (a store reads thousands of them at open) are
// read without Qt's general parser; the rest are left to it.
template<typename Text>
bool utcFromAnyText(Text text, qint64 *msecs)
{
    if (const std::optional<IsoTime> time = IsoTime::read(text)) {
        if (time->instant)
            *msecs = time->ms;
        return time->instant;
    }
    return mayCarryOffset(text.trimmed()) && utcFromAnyForm(text, msecs);
}

} // namespace

bool utcFromText(QStringView text, qint64 *msecs)
{
    return utcFromAnyText(text, msecs);
}

bool utcFromText(QLatin1String text, qint64 *msecs)
{
    return utcFromAnyText(text, msecs);
}

QString utcText(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toUTC().toString(Qt::ISODateWithMs) : QString();
}
