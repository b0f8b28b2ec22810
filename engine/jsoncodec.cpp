#include "jsoncodec.h"

#include "enginelog.h"

#include "jsonreader_p.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QStringView>
#include <QTime>
#include <QVarLengthArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

using namespace json_internal;

namespace {

inline int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;  // not a hexadecimal digit: counts as 0
}

// Moves `value` into a variant without touching its reference count.
template <typename T>
QVariant variantFrom(T &value)
{
    QVariant v{QMetaType::fromType<T>()};
    static_cast<T *>(v.data())->swap(value);
    return v;
}

} // namespace

// ---------------------------------------------------------------------------
// Reader primitives.

namespace json_internal {

// Reads a quoted string or a bare word whose first character `position` is at.
// On success the text is either a range of the source (`view`, when it held no
// escape) or `built`. Returns false when the step fails.
bool readText(JsonParserState &st, QStringView &view, QString &built, bool &quoted)
{
    const int first = next(st);
    quoted = first == '"';
    if (!quoted) {
        if (isNumberStart(first) || isSpace(first) || isDelim(first)) {
            st.error = true;
            return false;
        }
        --st.position;
    }
    if (st.position < 0) {
        st.error = true;
        return false;
    }

    const char16_t *s = st.chars;
    const qsizetype len = st.length;
    const quint8 stopClass = quoted ? 0 : (Space | Delimiter);
    qsizetype pos = st.position;
    qsizetype runStart = pos;
    bool escaped = false;

    auto flushRun = [&](qsizetype runEnd) {
        runEnd = std::min(runEnd, len);
        if (runEnd > runStart)
            built.append(QStringView(s + runStart, runEnd - runStart));
    };

    for (;;) {
        // Plain run.
        while (pos < len) {
            const char16_t c = s[pos];
            if (c == '\\' || (quoted ? c == '"' : (c < 256 && (classes[c] & stopClass))))
                break;
            ++pos;
        }
        if (pos >= len)
            break;  // the end of the text ends the string without error
        const char16_t c = s[pos];
        if (c == '\\') {
            if (pos + 1 >= len) {  // a trailing backslash is an ordinary character
                pos = len;
                break;
            }
            if (!escaped) {
                escaped = true;
                built.reserve(pos - st.position + 16);
            }
            flushRun(pos);
            const char16_t e = s[pos + 1];
            pos += 2;
            char16_t out;
            switch (e) {
            case '0': out = 0; break;
            case 'b': out = 0x08; break;
            case 'f': out = 0x0c; break;
            case 'n': out = '\n'; break;
            case 'r': out = '\r'; break;
            case 't': out = '\t'; break;
            case 'u': {
                // Four digits, taken even when they are not digits or the text ends.
                int unit = 0;
                for (int i = 0; i < 4; ++i, ++pos)
                    unit = unit * 16 + (pos < len ? hexValue(s[pos]) : 0);
                out = char16_t(unit);
                break;
            }
            default: out = e; break;  // quote, slash, backslash and anything else
            }
            built.append(QChar(out));
            runStart = pos;
            continue;
        }
        // The terminator: a closing quote is consumed, a word's end is not.
        if (escaped)
            flushRun(pos);
        else
            view = QStringView(s + st.position, pos - st.position);
        if (quoted)
            ++pos;
        st.position = pos;
        return true;
    }
    if (escaped)
        flushRun(pos);
    else
        view = QStringView(s + st.position, std::min(pos, len) - st.position);
    st.position = pos;
    return true;
}

qint64 toInteger(const char16_t *p, qsizetype n)
{
    const bool negative = n > 0 && p[0] == '-';
    qsizetype i = negative ? 1 : 0;
    if (i == n)
        return 0;  // a lone minus sign
    quint64 v = 0;
    for (; i < n; ++i) {
        const unsigned d = p[i] - '0';
        if (v > (~quint64(0) - d) / 10)
            return 0;
        v = v * 10 + d;
    }
    const quint64 limit = quint64(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0);
    if (v > limit)
        return 0;  // outside the signed 64-bit range
    return negative ? qint64(0 - v) : qint64(v);
}

double toDouble(const char16_t *p, qsizetype n)
{
    // The text is ASCII (digits, signs, point, e): narrow it on the stack.
    QVarLengthArray<char, 64> buf(n);
    for (qsizetype i = 0; i < n; ++i)
        buf[i] = char(p[i]);
    double d = 0;
    const auto r = std::from_chars(buf.data(), buf.data() + n, d, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != buf.data() + n || !std::isfinite(d))
        return 0;  // malformed, overflow or underflow: 0 without an error
    return d;
}

// Reads one value by its first significant character `c` (already stepped back over).
QVariant readValue(JsonParserState &st, int c)
{
    if (isNumberStart(c))
        return JsonCodec::parseNumber(st);
    if (c == '[')
        return JsonCodec::parseArray(st);
    if (c == '{')
        return JsonCodec::parseObject(st);
    if (c == '"' || !(isSpace(c) || isDelim(c)))
        return JsonCodec::parseString(st);
    return QVariant();  // a colon, comma, slash or closing bracket: nothing is read
}

QString internKey(JsonParserState &st, QStringView text)
{
    // Names such as thumbnail64_file and thumbnail128_file differ in the
    // middle: mix both ends.
    const qsizetype n = text.size();
    size_t h = size_t(n);
    for (qsizetype i = 0; i < n && i < 4; ++i)
        h = h * 31 + text[i].unicode();
    for (qsizetype i = std::max<qsizetype>(4, n - 4); i < n; ++i)
        h = h * 31 + text[i].unicode();
    QString &slot = st.keys[h % st.keys.size()];
    if (slot.isNull() || QStringView(slot) != text)
        slot = text.toString();
    return slot;
}

void logFailure(const JsonParserState &st, const QString &text)
{
    qCDebug(lcEngine) << "JSON ERROR BEGIN" << st.position << text.size();
    qCDebug(lcEngine) << text.mid(st.position, 1024);
    qCDebug(lcEngine) << "JSON ERROR END";
}

} // namespace json_internal

namespace {

// ---------------------------------------------------------------------------
// Writer: appends into one growing QString without per-character checks.

class Writer
{
public:
    QString finish()
    {
        if (!base)
            return QString();
        const qsizetype used = p - base;
        out.resize(used);
        if (out.capacity() - used > 4096 && out.capacity() > used + used / 4)
            out.squeeze();
        return std::move(out);
    }

    void reserve(qsizetype n)
    {
        if (end - p < n)
            grow(n);
    }
    void put(char16_t c) { *p++ = c; }
    void putAscii(const char *s, qsizetype n)
    {
        reserve(n);
        for (qsizetype i = 0; i < n; ++i)
            *p++ = char16_t(uchar(s[i]));
    }
    void putUnits(const char16_t *s, qsizetype n)
    {
        if (n > 0)  // an empty view may carry a null pointer
            std::memcpy(p, s, size_t(n) * sizeof(char16_t));
        p += n;
    }

    void value(const QVariant &v);
    void list(const QVariantList &l);
    void stringList(const QStringList &l);
    void string(QStringView s);
    void number(double d);

private:
    void grow(qsizetype n)
    {
        const qsizetype used = base ? p - base : 0;
        const qsizetype capacity = std::max<qsizetype>({used + n, (end - base) * 2, 64});
        out.resize(capacity);
        base = reinterpret_cast<char16_t *>(out.data());
        p = base + used;
        end = base + capacity;
    }

    QString out;
    char16_t *base = nullptr;
    char16_t *p = nullptr;
    char16_t *end = nullptr;
};

void Writer::string(QStringView s)
{
    const char16_t *b = s.utf16();
    const char16_t *e = b + s.size();
    reserve(s.size() + 2);
    put('"');
    for (;;) {
        const char16_t *run = b;
        while (b < e && !(*b < 128 && (classes[*b] & WriteEscaped)))
            ++b;
        putUnits(run, b - run);
        if (b == e)
            break;
        const char16_t c = *b++;
        reserve(6 + (e - b) + 1);
        put('\\');
        switch (c) {
        case '\\': put('\\'); break;
        case '"': put('"'); break;
        case '/': put('/'); break;
        case '\n': put('n'); break;
        case '\r': put('r'); break;
        case '\t': put('t'); break;
        default: {
            // Any other control character: without an escape the text would not be JSON.
            static const char hex[] = "0123456789abcdef";
            put('u');
            put('0');
            put('0');
            put(char16_t(hex[c >> 4]));
            put(char16_t(hex[c & 15]));
        }
        }
    }
    put('"');
}

// 'g' form with 15 significant digits, exactly as QString::number(d, 'g', 15).
void Writer::number(double d)
{
    char buf[64];
    // std::to_chars rounds a tie to even where Qt rounds it away from zero. A tie
    // at 15 digits needs a value whose exact decimal form has 16 digits ending in
    // 5; its shortest form is then those 16 digits. Such values go through Qt.
    char shortest[32];
    const auto s = std::to_chars(shortest, shortest + sizeof shortest, d, std::chars_format::scientific);
    const char *mantissaEnd = std::find(shortest, s.ptr, 'e');
    int digits = 0;
    for (const char *q = shortest; q < mantissaEnd; ++q)
        digits += *q >= '0' && *q <= '9';
    if (digits == 16 && mantissaEnd[-1] == '5') {
        const QString text = QString::number(d, 'g', 15);
        reserve(text.size());
        putUnits(reinterpret_cast<const char16_t *>(text.constData()), text.size());
        return;
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    putAscii(buf, r.ptr - buf);
}

void Writer::list(const QVariantList &l)
{
    reserve(2);
    put('[');
    bool first = true;
    for (const QVariant &v : l) {
        if (!first) {
            reserve(1);
            put(',');
        }
        first = false;
        value(v);
    }
    reserve(1);
    put(']');
}

void Writer::stringList(const QStringList &l)
{
    reserve(2);
    put('[');
    bool first = true;
    for (const QString &s : l) {
        if (!first) {
            reserve(1);
            put(',');
        }
        first = false;
        if (s.isNull())
            putAscii("null", 4);
        else
            string(s);
    }
    reserve(1);
    put(']');
}

void Writer::value(const QVariant &v)
{
    if (v.isNull()) {
        putAscii("null", 4);
        return;
    }
    const void *data = v.constData();
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        const auto &map = *static_cast<const QVariantMap *>(data);
        reserve(2);
        put('{');
        bool first = true;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!first) {
                reserve(1);
                put(',');
            }
            first = false;
            string(it.key());
            reserve(1);
            put(':');
            value(it.value());
        }
        reserve(1);
        put('}');
        return;
    }
    case QMetaType::QVariantList:
        list(*static_cast<const QVariantList *>(data));
        return;
    case QMetaType::QStringList:
        stringList(*static_cast<const QStringList *>(data));
        return;
    case QMetaType::Bool:
        if (*static_cast<const bool *>(data))
            putAscii("true", 4);
        else
            putAscii("false", 5);
        return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        char buf[24];
        std::to_chars_result r;
        switch (v.typeId()) {
        case QMetaType::Int: r = std::to_chars(buf, buf + sizeof buf, *static_cast<const int *>(data)); break;
        case QMetaType::UInt: r = std::to_chars(buf, buf + sizeof buf, *static_cast<const uint *>(data)); break;
        case QMetaType::LongLong: r = std::to_chars(buf, buf + sizeof buf, *static_cast<const qlonglong *>(data)); break;
        default: r = std::to_chars(buf, buf + sizeof buf, *static_cast<const qulonglong *>(data)); break;
        }
        putAscii(buf, r.ptr - buf);
        return;
    }
    case QMetaType::Double: {
        const double d = *static_cast<const double *>(data);
        if (std::isfinite(d))
            number(d);
        else
            putAscii("null", 4);  // JSON has no infinities or NaN
        return;
    }
    case QMetaType::QString: {
        const auto &s = *static_cast<const QString *>(data);
        if (s.isNull())
            putAscii("null", 4);
        else
            string(s);
        return;
    }
    case QMetaType::QByteArray:
        if (static_cast<const QByteArray *>(data)->isNull()) {
            putAscii("null", 4);
            return;
        }
        break;
    case QMetaType::QDateTime: {
        const auto &dt = *static_cast<const QDateTime *>(data);
        if (dt.isNull())
            putAscii("null", 4);
        else
            string(dt.toString(Qt::ISODate));  // no milliseconds
        return;
    }
    case QMetaType::QDate: {
        const auto &date = *static_cast<const QDate *>(data);
        if (date.isNull())
            putAscii("null", 4);
        else
            string(date.toString(Qt::ISODate));
        return;
    }
    case QMetaType::QTime: {
        const auto &time = *static_cast<const QTime *>(data);
        if (time.isNull())
            putAscii("null", 4);
        else
            string(time.toString(Qt::ISODate));
        return;
    }
    default:
        break;
    }
    string(v.toString());
}

} // namespace

// ---------------------------------------------------------------------------

JsonParserState::JsonParserState(const QString &text, QString *comments)
    : text(text)
    , comments(comments)
    , chars(reinterpret_cast<const char16_t *>(this->text.constData()))
    , length(this->text.size())
{
}

bool JsonCodec::isDelimiter(QChar c)
{
    return isDelim(c.unicode());
}

QChar JsonCodec::nextChar(JsonParserState &state)
{
    const int c = next(state);
    return QChar(char16_t(c < 0 ? 0 : c));
}

QVariant JsonCodec::parseNumber(JsonParserState &st)
{
    const int first = next(st);
    if (!isNumberStart(first)) {
        st.error = true;
        return QVariant();
    }
    bool isDouble = first == '.';
    const qsizetype start = st.position - 1;
    const char16_t *s = st.chars;
    while (st.position < st.length) {
        const char16_t c = s[st.position++];
        if (c >= '0' && c <= '9')
            continue;
        if (c == '.') {
            if (isDouble) {
                st.error = true;
                return QVariant();
            }
            isDouble = true;
            continue;
        }
        if (c == 'e' || c == 'E') {
            if (st.position >= st.length) {
                st.error = true;
                return QVariant();
            }
            const char16_t sign = s[st.position++];
            if (sign != '-' && sign != '+')
                --st.position;
            isDouble = true;
            continue;
        }
        if (c < 256 && (classes[c] & (Space | Delimiter))) {
            --st.position;
            break;
        }
        st.error = true;
        return QVariant();
    }
    const qsizetype n = st.position - start;
    if (isDouble)
        return QVariant(toDouble(s + start, n));
    return QVariant(qlonglong(toInteger(s + start, n)));
}

QVariant JsonCodec::parseString(JsonParserState &st)
{
    QStringView view;
    QString built;
    bool quoted = false;
    if (!readText(st, view, built, quoted))
        return QVariant();
    if (built.isNull()) {
        if (!quoted) {
            if (view == u"true")
                return QVariant(true);
            if (view == u"false")
                return QVariant(false);
            if (view == u"null")
                return QVariant();
        }
        built = view.toString();
        if (built.isNull())
            built = QStringView(u"").toString();  // an empty text is a string, not null
        return variantFrom(built);
    }
    if (!quoted) {
        if (built == u"true")
            return QVariant(true);
        if (built == u"false")
            return QVariant(false);
        if (built == u"null")
            return QVariant();
    }
    return variantFrom(built);
}

QVariant JsonCodec::parseArray(JsonParserState &st)
{
    if (take(st) != '[') {
        st.error = true;
        return QVariant();
    }
    if (++st.depth > maxDepth) {
        st.error = true;
        --st.depth;
        return QVariant();
    }
    QVariantList list;
    bool ended = false;
    while (!st.error) {
        if (st.position >= st.length) {
            st.error = true;  // unclosed
            break;
        }
        const char16_t c = take(st);
        if (st.error)
            break;
        if (c == ',' || (c < 256 && (classes[c] & Space)))
            continue;  // commas are optional and may repeat
        if (c == ']') {
            ended = true;
            break;
        }
        --st.position;
        const int d = next(st);
        --st.position;
        list.append(readValue(st, d));
        if (d == ':' || d == '}' || d == '/')
            st.error = true;
    }
    --st.depth;
    if (st.error || !ended)
        return QVariant();
    return variantFrom(list);
}

QVariant JsonCodec::parseObject(JsonParserState &st)
{
    if (next(st) != '{') {
        st.error = true;
        return QVariant();
    }
    if (++st.depth > maxDepth) {
        st.error = true;
        --st.depth;
        return QVariant();
    }
    std::map<QString, QVariant> members;
    QString key;
    int expect = 0;  // 0: a key, 1: a colon, 2: a value
    bool ended = false;
    while (!st.error) {
        if (st.position >= st.length) {
            st.error = true;  // unclosed
            break;
        }
        int c = next(st);
        if (c == ':') {
            if (expect == 1)
                expect = 2;
            else
                st.error = true;
            continue;
        }
        if (c == '}') {
            ended = true;
            break;
        }
        if (c == ',') {
            if (expect != 0)
                st.error = true;
            continue;
        }
        if (expect == 0) {
            --st.position;
            if (isNumberStart(c)) {
                key = parseNumber(st).toString();
            } else if (c != '"' && isDelim(c)) {
                st.error = true;
            } else {
                QStringView view;
                QString built;
                bool quoted = false;
                if (readText(st, view, built, quoted)) {
                    const QStringView text = built.isNull() ? view : QStringView(built);
                    if (!quoted && text == u"null")
                        key = QString();  // a bare null names the empty key
                    else if (!built.isNull())
                        key = built;
                    else
                        key = internKey(st, view);
                }
            }
            expect = 1;
        } else if (expect == 1) {
            st.error = true;  // a second key without a colon
        } else {
            --st.position;
            c = next(st);
            --st.position;
            members.insert_or_assign(members.end(), key, readValue(st, c));
            expect = 0;
        }
    }
    --st.depth;
    if (ended && expect != 0)
        st.error = true;  // a key without its colon or value
    if (st.error || !ended)
        return QVariant();
    QVariantMap map(std::move(members));
    return variantFrom(map);
}

QVariant JsonCodec::parseDocument(const QString &text, bool *ok, QString *comments)
{
    if (text.isEmpty())
        return QVariant(text);
    JsonParserState st(text, comments);
    const int c = next(st);
    --st.position;
    QVariant result = readValue(st, c);
    // Only whitespace and complete comments may follow. A NUL character is
    // trailing text like any other.
    if (next(st) != -1)
        st.error = true;
    if (ok)
        *ok = !st.error;
    if (!st.error)
        return result;
    logFailure(st, text);
    return QVariant();
}

QString JsonCodec::serializeValue(const QVariant &value)
{
    Writer w;
    w.value(value);
    return w.finish();
}

QString JsonCodec::serializeList(const QVariantList &list)
{
    Writer w;
    w.list(list);
    return w.finish();
}

QString JsonCodec::escapeString(const QString &text)
{
    Writer w;
    w.string(text);
    return w.finish();
}
