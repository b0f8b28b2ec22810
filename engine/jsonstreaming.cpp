// The streaming reader of JsonCodec: long arrays of a top-level object handed
// over element by element instead of kept.

#include "jsoncodec.h"

#include "jsonreader_p.h"

#include <QDebug>

#include <algorithm>
#include <map>

using namespace json_internal;

namespace {

// The key of an object member, read as parseObject reads it.
QString readKey(JsonParserState &st, int c)
{
    if (isNumberStart(c))
        return JsonCodec::parseNumber(st).toString();
    if (c != '"' && isDelim(c)) {
        st.error = true;
        return QString();
    }
    QStringView view;
    QString built;
    bool quoted = false;
    if (!readText(st, view, built, quoted))
        return QString();
    const QStringView text = built.isNull() ? view : QStringView(built);
    if (!quoted && text == u"null")
        return QString();  // a bare null names the empty key
    return built.isNull() ? internKey(st, view) : built;
}

// The member loop of parseObject once its '{' is read: keys, colons and
// commas as parseObject takes them, each value left to onValue(key, c), c
// being the value's first character. False when the object is malformed or
// not closed.
template <typename OnValue>
bool readMembers(JsonParserState &st, OnValue onValue)
{
    QString key;
    int expect = 0;  // 0: a key, 1: a colon, 2: a value
    while (!st.error) {
        if (st.position >= st.length) {
            st.error = true;
            break;
        }
        int c = next(st);
        if (c == ':') {
            st.error = expect != 1;
            expect = 2;
        } else if (c == '}') {
            return expect == 0;
        } else if (c == ',') {
            st.error = expect != 0;
        } else if (expect == 0) {
            --st.position;
            key = readKey(st, c);
            expect = 1;
        } else if (expect == 1) {
            st.error = true;
        } else {
            --st.position;
            c = next(st);
            --st.position;
            onValue(key, c);
            expect = 0;
        }
    }
    return false;
}

// parseObject, with the members kept in a flat list instead of a map.
void readFlatObject(JsonParserState &st, JsonCodec::StreamedElement &element)
{
    element.isObject = true;
    if (next(st) != '{' || ++st.depth > JsonCodec::maxDepth) {
        st.error = true;
        return;
    }
    const bool closed = readMembers(st, [&](const QString &key, int c) {
        QVariant value = readValue(st, c);
        auto same = std::find_if(element.members.begin(), element.members.end(),
                                 [&key](const auto &member) { return member.first == key; });
        if (same != element.members.end())
            same->second = std::move(value);
        else
            element.members.append({key, std::move(value)});
    });
    --st.depth;
    if (!closed)
        st.error = true;
}

// The loop of parseArray, each element handed to `element` instead of kept.
void streamArray(JsonParserState &st, const QString &key, const JsonCodec::ElementSink &element)
{
    if (take(st) != '[' || ++st.depth > JsonCodec::maxDepth) {
        st.error = true;
        return;
    }
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
            continue;
        if (c == ']') {
            ended = true;
            break;
        }
        --st.position;
        const int d = next(st);
        --st.position;
        JsonCodec::StreamedElement one;
        if (d == '{')
            readFlatObject(st, one);
        else
            one.value = readValue(st, d);
        if (d == ':' || d == '}' || d == '/')
            st.error = true;
        if (!st.error)
            element(key, one);
    }
    --st.depth;
    if (!ended)
        st.error = true;
}


} // namespace

QVariant JsonCodec::StreamedElement::member(QLatin1StringView key) const
{
    for (const auto &[name, value] : members) {
        if (name == key)
            return value;
    }
    return QVariant();
}

QVariant JsonCodec::parseStreaming(const QString &text, const QStringList &streamed, const ElementSink &element,
                                   bool *ok)
{
    JsonParserState st(text);
    const int first = next(st);
    if (text.isEmpty() || first != '{')
        return parseDocument(text, ok);
    // parseObject, with the arrays of the streamed keys read by streamArray.
    ++st.depth;
    std::map<QString, QVariant> members;
    const bool closed = readMembers(st, [&](const QString &key, int c) {
        if (c == '[' && streamed.contains(key))
            streamArray(st, key, element);
        else
            members.insert_or_assign(key, readValue(st, c));
    });
    if (!closed || next(st) != -1)
        st.error = true;
    if (ok)
        *ok = !st.error;
    if (st.error) {
        logFailure(st, text);
        return QVariant();
    }
    return QVariant(QVariantMap(std::move(members)));
}
