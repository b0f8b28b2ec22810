#pragma once

#include <QChar>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>
#include <QVariant>

#include <array>
#include <functional>

// State of one JsonCodec::parse call, handed by reference to every reading step.
struct JsonParserState
{
    explicit JsonParserState(const QString &text, QString *comments = nullptr);

    QString text;                 // the whole text being read
    qsizetype position = 0;       // UTF-16 index of the next character to take
    bool error = false;           // set at the first malformed spot, never cleared
    QString *comments = nullptr;  // receives the text of every comment, may be null

    // Bookkeeping of the reader itself.
    const char16_t *chars = nullptr;  // text's code units
    qsizetype length = 0;
    int depth = 0;                    // arrays and objects open right now
    // Member names met recently: a key read again shares the string already made,
    // which spares one allocation per member in long lists of similar objects.
    std::array<QString, 64> keys;
};

// Converts variant trees (maps with string keys, lists, bools, 64-bit integers,
// doubles, strings, null) to compact JSON text and back. The reader is lenient:
// bare words, comments, optional and repeated commas. No state is kept between
// calls, so any thread may use it.
class JsonCodec
{
public:
    JsonCodec() = delete;

    // Arrays and objects nested deeper than this make the text malformed, so a
    // hostile answer cannot exhaust the stack.
    static constexpr int maxDepth = 512;

    static QString serialize(const QVariant &value) { return serializeValue(value); }
    // On failure: a null variant, *ok false and the spot logged to the debug
    // stream. An empty text gives an empty string and leaves *ok untouched.
    static QVariant parse(const QString &text, bool *ok = nullptr, QString *comments = nullptr)
    {
        return parseDocument(text, ok, comments);
    }
    static QVariant parseDocument(const QString &text, bool *ok = nullptr, QString *comments = nullptr);

    // Reads a text like parse, whose top level must be an object, but hands
    // each element of an array that stands under one of `streamed` keys to
    // `element` (key, value) as soon as it is read instead of keeping the
    // array: the object returned holds the other members. Long lists are thus
    // never held whole. Elements already handed over stay valid only when
    // *ok comes back true. A text whose top level is not an object gives
    // what parse gives.
    // One element of a streamed array: an object comes as its members in text
    // order (a repeated key keeps its last value), sparing the map; any
    // other element comes whole in `value`.
    struct StreamedElement
    {
        bool isObject = false;
        QVarLengthArray<std::pair<QString, QVariant>, 8> members;
        QVariant value;
        // The member's value, or a null variant.
        QVariant member(QLatin1StringView key) const;
    };
    using ElementSink = std::function<void(const QString &key, StreamedElement &element)>;
    static QVariant parseStreaming(const QString &text, const QStringList &streamed, const ElementSink &element,
                                   bool *ok = nullptr);

    // Reading steps; each starts at the first character of what it reads and
    // returns a null variant when the text is malformed.
    static QVariant parseNumber(JsonParserState &state);
    static QVariant parseString(JsonParserState &state);  // quoted strings and bare words
    static QVariant parseArray(JsonParserState &state);
    static QVariant parseObject(JsonParserState &state);
    // The next character that is neither whitespace nor part of a comment;
    // U+0000 when there is none.
    static QChar nextChar(JsonParserState &state);
    static bool isDelimiter(QChar c);

    // Writing steps.
    static QString serializeValue(const QVariant &value);
    static QString serializeList(const QVariantList &list);
    static QString escapeString(const QString &text);
};
