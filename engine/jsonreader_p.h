#pragma once

// Reader primitives that the JSON codec's source files share. Internal to
// the engine.

#include "jsoncodec.h"

#include <QStringView>

#include <array>

namespace json_internal {

// Character classes. Only Latin-1 characters have a class; anything above
// U+00FF behaves like a letter.

enum : quint8 { Space = 1, Delimiter = 2, Digit = 4, HexDigit = 8, WriteEscaped = 16 };

constexpr std::array<quint8, 256> makeClasses()
{
    std::array<quint8, 256> t{};
    for (char c : {'\t', '\n', '\r', ' '})
        t[quint8(c)] |= Space;
    for (char c : {':', '"', ',', '-', '.', '/', '[', ']', '{', '}'})
        t[quint8(c)] |= Delimiter;
    for (int c = '0'; c <= '9'; ++c)
        t[c] |= Digit | HexDigit;
    for (int c = 'a'; c <= 'f'; ++c)
        t[c] |= HexDigit;
    for (int c = 'A'; c <= 'F'; ++c)
        t[c] |= HexDigit;
    for (int c = 0; c < 0x20; ++c)
        t[c] |= WriteEscaped;
    for (char c : {'"', '\\', '/'})
        t[quint8(c)] |= WriteEscaped;
    return t;
}

constexpr std::array<quint8, 256> classes = makeClasses();

// `c` is a code unit, or -1 for "no character" (treated like U+0000).
inline quint8 classOf(int c)
{
    return c >= 0 && c < 256 ? classes[c] : (c < 0 ? classes[0] : 0);
}
inline bool isSpace(int c) { return classOf(c) & Space; }
inline bool isDelim(int c) { return classOf(c) & Delimiter; }
inline bool isDigit(int c) { return classOf(c) & Digit; }
inline bool isNumberStart(int c) { return c == '-' || c == '.' || isDigit(c); }

// Takes one character; past the end it yields U+0000 but still advances.
inline char16_t take(JsonParserState &st)
{
    if (st.position < 0) {
        st.error = true;
        return 0;
    }
    const qsizetype at = st.position++;
    return at < st.length ? st.chars[at] : 0;
}

// The next significant character, consumed, or -1 when there is none (end of
// text, an error, or an unterminated comment). A slash that does not open a
// comment is yielded without being consumed.
inline int next(JsonParserState &st)
{
    for (;;) {
        if (st.error || st.position >= st.length)
            return -1;
        const char16_t c = take(st);
        if (st.error)
            return -1;
        if (c == '/' && st.position < st.length) {
            if (st.chars[st.position] != '*') {
                --st.position;
                return '/';
            }
            ++st.position;
            // Comment body. A star is always taken together with the character
            // after it, and only a star-slash pair taken that way closes it.
            bool closed = false;
            while (!closed) {
                if (st.position >= st.length) {
                    st.error = true;
                    return -1;
                }
                const char16_t b = st.chars[st.position++];
                if (b != '*') {
                    if (st.comments)
                        st.comments->append(QChar(b));
                    continue;
                }
                const bool more = st.position < st.length;
                const char16_t n = take(st);
                if (more && n == '/') {
                    closed = true;
                } else if (st.comments) {
                    st.comments->append(QLatin1Char('*'));
                    if (more)
                        st.comments->append(QChar(n));
                }
            }
            continue;
        }
        if (classes[c < 256 ? c : 'a'] & Space)
            continue;
        return c;
    }
}

// One value by the value dispatch, on the character `c` that next gave.
QVariant readValue(JsonParserState &st, int c);
// Reads a quoted string or a bare word whose first character `position` is at.
// On success the text is either a range of the source (`view`, when it held no
// escape) or `built`. Returns false when the step fails.
bool readText(JsonParserState &st, QStringView &view, QString &built, bool &quoted);
// A member name, shared with the names met recently.
QString internKey(JsonParserState &st, QStringView text);
// The three debug lines of a failed read.
void logFailure(const JsonParserState &st, const QString &text);

} // namespace json_internal
