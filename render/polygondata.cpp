#include "polygondata.h"

#include "jsoncodec.h"
#include "paintlimits.h"
#include "renderlog.h"

#include <QVarLengthArray>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// The rules every reading shares: a pair with a non-finite coordinate is
// dropped, coordinates are clamped, nothing is added past the point cap.
inline void appendPair(QPolygonF &polygon, double x, double y)
{
    if (polygon.size() < PaintLimits::maxPolygonPoints && std::isfinite(x) && std::isfinite(y))
        polygon.append(clampPoint(QPointF(x, y)));
}

void warnIfCut(qsizetype values)
{
    const qsizetype pairs = values / 2;
    if (pairs > PaintLimits::maxPolygonPoints)
        qCWarning(lcRender) << "stroke of" << pairs << "points cut to" << PaintLimits::maxPolygonPoints;
}

inline bool isSpace(char16_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One number token at `p`, read to the same value as JsonCodec reads it: it
// runs over digits, one point and exponents (each taking a sign after it);
// without a point or exponent it is a 64-bit integer, 0 when out of range;
// otherwise a double, 0 when malformed, overflowing or underflowing. False
// where JsonCodec would report the text malformed.
bool readNumber(const char16_t *&p, const char16_t *end, double &value)
{
    const char16_t *start = p;
    bool isDouble = *p++ == '.';
    while (p < end) {
        const char16_t c = *p;
        if (c >= '0' && c <= '9') {
            ++p;
        } else if (c == '.') {
            if (isDouble)
                return false;
            isDouble = true;
            ++p;
        } else if (c == 'e' || c == 'E') {
            if (++p == end)
                return false;
            if (*p == '-' || *p == '+')
                ++p;
            isDouble = true;
        } else {
            break;  // the caller judges what ends the token
        }
    }
    // The token is ASCII: narrow it on the stack.
    const qsizetype n = p - start;
    QVarLengthArray<char, 64> buf(n);
    for (qsizetype i = 0; i < n; ++i)
        buf[i] = char(start[i]);
    const char *b = buf.data();
    const char *e = b + n;
    if (isDouble) {
        double d = 0;
        const auto r = std::from_chars(b, e, d, std::chars_format::general);
        value = r.ec == std::errc() && r.ptr == e && std::isfinite(d) ? d : 0;
    } else {
        qint64 i = 0;
        const auto r = std::from_chars(b, e, i);
        value = r.ec == std::errc() && r.ptr == e ? double(i) : 0;  // a lone minus sign is 0 too
    }
    return true;
}

// The direct reading of the usual text: an array holding only numbers, with
// commas and whitespace between them (missing or repeated commas read as the
// general reader reads them). False for anything else (strings, words,
// comments, nesting, malformed numbers, trailing text), which is left to the
// general reader so that no text changes meaning.
bool readPlainArray(QStringView text, QPolygonF &polygon)
{
    const char16_t *p = text.utf16();
    const char16_t *end = p + text.size();
    while (p < end && isSpace(*p))
        ++p;
    if (p == end || *p++ != '[')
        return false;
    // Commas bound the values of the usual text, so one allocation suffices.
    const qsizetype commas = std::count(p, end, u',');
    polygon.reserve(qMin<qsizetype>(commas / 2 + 1, PaintLimits::maxPolygonPoints));
    qsizetype count = 0;
    double x = 0;
    for (;;) {
        if (p == end)
            return false;  // unclosed
        const char16_t c = *p;
        if (c == ',' || isSpace(c)) {
            ++p;
            continue;
        }
        if (c == ']')
            break;
        double value = 0;
        if (!(c == '-' || c == '.' || (c >= '0' && c <= '9')) || !readNumber(p, end, value))
            return false;
        if (count++ % 2 == 0)
            x = value;
        else
            appendPair(polygon, x, value);
    }
    for (++p; p < end; ++p) {
        if (!isSpace(*p))
            return false;
    }
    warnIfCut(count);
    return true;
}

} // namespace

QVariant polygonToData(const QPolygonF &polygon)
{
    QString text;
    text.reserve(2 + polygon.size() * 16);
    text += QLatin1Char('[');
    bool first = true;
    for (const QPointF &p : polygon) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            continue;
        if (!first)
            text += QLatin1Char(',');
        first = false;
        text += QString::number(p.x(), 'g', 15);
        text += QLatin1Char(',');
        text += QString::number(p.y(), 'g', 15);
    }
    text += QLatin1Char(']');
    return text;
}

QPolygonF dataToPolygon(const QVariant &data)
{
    const QString text = data.toString();
    QPolygonF polygon;
    if (readPlainArray(text, polygon))
        return polygon;
    return dataToPolygonViaJson(text);
}

QPolygonF dataToPolygonViaJson(const QVariant &data)
{
    const QString text = data.toString();
    if (text.isEmpty())
        return {};
    bool ok = true;
    const QVariant parsed = JsonCodec::parse(text, &ok);
    if (parsed.typeId() != QMetaType::QVariantList)
        return {};
    const QVariantList values = parsed.toList();
    warnIfCut(values.size());
    QPolygonF polygon;
    polygon.reserve(qMin<qsizetype>(values.size() / 2, PaintLimits::maxPolygonPoints));
    for (qsizetype i = 0; i + 1 < values.size() && polygon.size() < PaintLimits::maxPolygonPoints; i += 2)
        appendPair(polygon, values.at(i).toReal(), values.at(i + 1).toReal());
    return polygon;
}
