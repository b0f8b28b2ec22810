// The lenient JSON reader and the compact writer: edge cases as tables, hostile
// input, and a round trip of generated trees.

#include "jsoncodec.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QtTest>

#include <limits>

namespace {

// Collects the log while alive, so that failure logs can be checked and do
// not flood the test output.
QStringList logged;
struct LogCapture
{
    LogCapture() { logged.clear(); }
    ~LogCapture() { qInstallMessageHandler(previous); }
    QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { logged.append(message); });
};

// A tree as text that names every type: QVariant's own == treats 2 and 2.0,
// or "1" and true, as equal.
QString typed(const QVariant &v)
{
    if (v.isNull())
        return QStringLiteral("null");
    QStringList parts;
    if (v.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = v.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            parts << it.key() + ':' + typed(it.value());
        return '{' + parts.join(',') + '}';
    }
    if (v.typeId() == QMetaType::QVariantList) {
        for (const QVariant &item : v.toList())
            parts << typed(item);
        return '[' + parts.join(',') + ']';
    }
    return QString::fromLatin1(v.typeName()) + ':' + v.toString();
}

QString str(QStringView text) { return text.toString(); }
QVariantList list(std::initializer_list<QVariant> items) { return QVariantList(items); }
const QString nul(QChar(0));

// Random trees of what the writer produces. Doubles are those that survive
// 15 digits and keep a point or exponent in their text.
QVariant randomTree(QRandomGenerator &rng, int depth)
{
    static const char16_t pool[] = u"aZ09 _-/\\\"'\n\r\t\b\f\x01\x1f{}[]:,.*\u00e9\u0142\u20ac\xd83d\xde00";
    const auto text = [&rng] {
        QString s = str(u"");
        for (int i = rng.bounded(12); i > 0; --i)
            s.append(QChar(pool[rng.bounded(int(std::size(pool)) - 1)]));
        return s;
    };
    QVariantList items;
    QVariantMap members;
    switch (const int kind = rng.bounded(depth > 0 ? 8 : 6)) {
    case 0: return QVariant();
    case 1: return QVariant(rng.bounded(2) == 1);
    case 2: return QVariant(qlonglong(rng.generate64()) >> rng.bounded(64));
    case 3:
        for (;;) {
            const double raw = (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-12, 25));
            const QString number = QString::number(raw, 'g', 15);
            if (number.contains(u'.') || number.contains(u'e'))
                return QVariant(number.toDouble());
        }
    case 4:
    case 5: return QVariant(text());
    default:
        for (int i = rng.bounded(5); i > 0; --i) {
            if (kind == 6)
                items.append(randomTree(rng, depth - 1));
            else
                members.insert(text(), randomTree(rng, depth - 1));
        }
        return kind == 6 ? QVariant(items) : QVariant(members);
    }
}

} // namespace

class TestJson : public QObject
{
    Q_OBJECT

private slots:
    void serialize_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("map in key order") << QVariant(QVariantMap{{"b", 1}, {"a", 2}}) << R"({"a":2,"b":1})";
        QTest::newRow("escapes") << QVariant(QString("/\"\\\n\r\t\u00e9z")) << R"("\/\"\\\n\r\t)" + str(u"\u00e9z\"");
        QTest::newRow("other control characters") << QVariant(QString("\x01\b\f\x1f"))
                                                  << R"("\u0001\u0008\u000c\u001f")";
        QTest::newRow("NUL") << QVariant("a" + nul) << R"("a\u0000")";
        QTest::newRow("empty containers") << QVariant(list({QVariantMap(), QVariantList()})) << "[{},[]]";
        QTest::newRow("empty string") << QVariant(str(u"")) << R"("")";
        QTest::newRow("null string") << QVariant(QString()) << "null";
        QTest::newRow("string list") << QVariant(QStringList{"a", "b"}) << R"(["a","b"])";
        QTest::newRow("int64 min") << QVariant(std::numeric_limits<qlonglong>::min()) << "-9223372036854775808";
        QTest::newRow("2.0") << QVariant(2.0) << "2";
        QTest::newRow("1e20") << QVariant(1e20) << "1e+20";
        QTest::newRow("15 digits") << QVariant(0.1 + 0.2) << "0.3";
        QTest::newRow("infinity") << QVariant(std::numeric_limits<double>::infinity()) << "null";
        QTest::newRow("nan") << QVariant(std::numeric_limits<double>::quiet_NaN()) << "null";
        QTest::newRow("date-time") << QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 9, 250)))
                                   << R"("2024-02-29T13:05:09")";
        QTest::newRow("null date-time") << QVariant(QDateTime()) << "null";
        QTest::newRow("float is text") << QVariant(1.5f) << R"("1.5")";
    }
    void serialize()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, text);
        QCOMPARE(JsonCodec::serialize(value), text);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("comments");
        QTest::newRow("integer") << "2" << QVariant(2LL) << "";
        QTest::newRow("2.0") << "2.0" << QVariant(2.0) << "";
        QTest::newRow(".5") << ".5" << QVariant(0.5) << "";
        QTest::newRow("leading zero") << "01" << QVariant(1LL) << "";
        QTest::newRow("minus ends a number") << "[1-2]" << QVariant(list({1LL, -2LL})) << "";
        QTest::newRow("repeated commas") << "[1,,2,]" << QVariant(list({1LL, 2LL})) << "";
        QTest::newRow("comment element") << "[1 /*c*/ ,2]" << QVariant(list({1LL, QVariant(), 2LL})) << "c";
        QTest::newRow("bare words") << "{a:1 b:hello}" << QVariant(QVariantMap{{"a", 1LL}, {"b", "hello"}}) << "";
        QTest::newRow("later key wins") << "{k:1,k:2}" << QVariant(QVariantMap{{"k", 2LL}}) << "";
        QTest::newRow("number key") << "{1.50:x}" << QVariant(QVariantMap{{"1.5", "x"}}) << "";
        QTest::newRow("null key") << "{null:1}" << QVariant(QVariantMap{{"", 1LL}}) << "";
        QTest::newRow("unicode escape") << R"("\u00e9\x")" << QVariant(str(u"\u00e9x")) << "";
        QTest::newRow("surrogate pair") << R"("\uD83D\uDE00")" << QVariant(str(u"\U0001F600")) << "";
        // Characters that are not hexadecimal digits count as 0 and are still
        // taken; at the top the closing quote is one of them, the string stays open.
        QTest::newRow("bad hex digits") << R"("\u00zz!")" << QVariant(nul + "!") << "";
        QTest::newRow("quote as hex digit") << R"("\u12")" << QVariant(QString(QChar(0x1200))) << "";
        QTest::newRow("escapes") << "\"\\/\\\"\\\\\\b\\f\\n\\r\\t\\0\""
                                 << QVariant(str(u"/\"\\\b\f\n\r\t") + nul) << "";
        QTest::newRow("NUL in a string") << "\"a" + nul + "b\"" << QVariant("a" + nul + "b") << "";
        QTest::newRow("NUL in a bare word") << "[x" + nul + "y]" << QVariant(list({"x" + nul + "y"})) << "";
        QTest::newRow("open quote at top") << "\"abc" << QVariant("abc") << "";
        QTest::newRow("trailing comment") << "1 /*done*/" << QVariant(1LL) << "done";
        QTest::newRow("stars in comment") << "/*a*b**c*/1" << QVariant(1LL) << "a*b**c";
        QTest::newRow("exponent without digits") << "[1e]" << QVariant(list({0.0})) << "";
        QTest::newRow("spaces only") << "  \t\r\n" << QVariant(str(u"")) << "";
        QTest::newRow("no separators") << R"(["a""b"true[]{}])"
                                       << QVariant(list({"a", "b", true, QVariantList(), QVariantMap()})) << "";
        QTest::newRow("nested") << R"({"a":[{"b":null},-0.25e1]})"
                                << QVariant(QVariantMap{{"a", list({QVariantMap{{"b", QVariant()}}, -2.5})}}) << "";
        // Out of range numbers give 0, of their own kind.
        QTest::newRow("2^63") << "9223372036854775808" << QVariant(0LL) << "";
        QTest::newRow("int64 max") << "9223372036854775807" << QVariant(std::numeric_limits<qlonglong>::max()) << "";
        QTest::newRow("int64 min") << "-9223372036854775808" << QVariant(std::numeric_limits<qlonglong>::min()) << "";
        QTest::newRow("below int64 min") << "-9223372036854775809" << QVariant(0LL) << "";
        QTest::newRow("huge and lone minus") << "[184467440737095516160000,-]" << QVariant(list({0LL, 0LL})) << "";
        for (const char *text : {"1e400", "-1e400", "1e-400", "1e5e3", "1e+"})
            QTest::newRow(text) << text << QVariant(0.0) << "";
        QTest::newRow("denormal") << "4.9e-324" << QVariant(std::numeric_limits<double>::denorm_min()) << "";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, value);
        QFETCH(QString, comments);
        bool ok = false;
        QString sink;
        const QVariant result = JsonCodec::parse(text, &ok, &sink);
        QVERIFY(ok);
        QCOMPARE(typed(result), typed(value));
        QCOMPARE(sink, comments);
    }

    // Unclosed structures, stray ']' and ':', trailing text, unterminated
    // comments: no value, ok cleared, a three-line log, comments so far only
    // added to the sink.
    void malformed_data()
    {
        QTest::addColumn<QString>("text");
        for (const char *c : {"{a}", "{a b:1}", "{a:}", "{a:1", "{[1]:2}", "[1:2]", "[}]", "[/x]", "[1,/]", "1.2.3",
                              "1x", "1e", "/*x**/1", "]", ":", "[1,2", "{\"a\":[1", "[\"abc", "[1]]", "{a:1}}", "1 2",
                              "{a:1,:2}", "{a::1}", "[{]", "{\"a\" \"b\"}", "-+1", "{,a:1 b}", R"(["\u12"])",
                              R"({"a\u":1})", "/* abc", "[1 /* x", "1 /*", "{a:/*1}", "/*a*"})
            QTest::newRow(c) << QString::fromUtf8(c);
        QTest::newRow("NUL after a value") << "1" + nul;
        QTest::newRow("NUL between values") << "[1]" + nul + "[2]";
    }
    void malformed()
    {
        QFETCH(QString, text);
        const LogCapture log;
        bool ok = true;
        QString sink = "kept:";
        QVERIFY(!JsonCodec::parse(text, &ok, &sink).isValid());
        QVERIFY(!ok);
        QCOMPARE(logged.size(), 3);
        QVERIFY(sink.startsWith("kept:"));
    }

    // Streamed lists reach the sink element by element, objects as their
    // members; the rest of the object comes back as parse would give it.
    void streamedListsMatchTheTree()
    {
        const QString text = "{set:[{id:1 member:a value:[2]},{id:2,id:3},7] /*c*/ x:{y:1}, remove:[5 6]}";
        QList<QVariant> seen;
        bool ok = false;
        const QVariant head = JsonCodec::parseStreaming(text, {"set", "remove"},
                                                        [&](const QString &key, JsonCodec::StreamedElement &element) {
                                                            QVariantMap members;
                                                            for (const auto &[name, value] : element.members)
                                                                members.insert(name, value);
                                                            seen.append(QVariant(QVariantList{
                                                                key, element.isObject ? QVariant(members) : element.value}));
                                                        },
                                                        &ok);
        QVERIFY(ok);
        QCOMPARE(head, QVariant(QVariantMap{{"x", QVariantMap{{"y", 1LL}}}}));
        const QVariantMap tree = JsonCodec::parse(text).toMap();
        QVariantList expected;
        for (const QString key : {"set", "remove"}) {
            for (const QVariant &element : tree.value(key).toList())
                expected.append(QVariant(QVariantList{key, element}));
        }
        QCOMPARE(JsonCodec::serialize(seen), JsonCodec::serialize(expected));

        // A fault after streamed elements fails the whole text.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("JSON ERROR"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(".*"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("JSON ERROR END"));
        JsonCodec::parseStreaming("{set:[1,2] x:}", {"set"}, [](const QString &, JsonCodec::StreamedElement &) {}, &ok);
        QVERIFY(!ok);
    }

    void failureIsLogged()
    {
        const LogCapture log;
        QVERIFY(!JsonCodec::parse("[1234:]").isValid());
        QCOMPARE(logged, QStringList({"JSON ERROR BEGIN 5 7", "\":]\"", "JSON ERROR END"}));
        // A huge hostile body logs only a bounded piece of itself.
        logged.clear();
        QVERIFY(!JsonCodec::parse("[1:" + QString(1 << 20, u'x') + "]").isValid());
        QCOMPARE(logged.size(), 3);
        QCOMPARE(logged.at(1).size(), 1024 + 2);
    }

    void deepNesting()
    {
        const LogCapture log;
        bool ok = false;
        const int limit = JsonCodec::maxDepth;
        QCOMPARE(JsonCodec::parse(QString(limit, u'[') + QString(limit, u']'), &ok).typeId(), QMetaType::QVariantList);
        QVERIFY(ok);
        JsonCodec::parse(QString(limit + 1, u'[') + QString(limit + 1, u']'), &ok);
        QVERIFY(!ok);
        const int deep = 100000;
        for (const QString &text : {QString(deep, u'[') + QString(deep, u']'),
                                    QString("{a:").repeated(deep) + "1" + QString(deep, u'}'), QString(deep, u'[')}) {
            ok = true;
            QVERIFY(!JsonCodec::parse(text, &ok).isValid());
            QVERIFY(!ok);
        }
    }

    void hugeString()
    {
        QString body(10 * 1024 * 1024, u'a');
        body[77] = u'"';
        body[5000000] = u'\n';
        const QString text = JsonCodec::serialize(body);
        QCOMPARE(text.size(), body.size() + 4);
        bool ok = false;
        QCOMPARE(JsonCodec::parse(text, &ok).toString(), body);
        QVERIFY(ok);
        const LogCapture log; // unclosed inside an array
        QVERIFY(!JsonCodec::parse("[\"" + QString(body.size(), u'a'), &ok).isValid());
        QVERIFY(!ok);
    }

    // `ok` and the sink are optional; empty text is an empty string and
    // leaves both as they were.
    void emptyTextAndOptionalOutputs()
    {
        QString sink = "untouched";
        for (bool preset : {true, false}) {
            bool ok = preset;
            const QVariant v = JsonCodec::parse("", &ok, &sink);
            QCOMPARE(ok, preset);
            QCOMPARE(v.typeId(), QMetaType::QString);
            QVERIFY(v.toString().isEmpty());
        }
        QCOMPARE(sink, "untouched");
        const LogCapture log;
        sink.clear();
        JsonCodec::parse("/* abc", nullptr, &sink);
        QCOMPARE(sink, " abc");
    }

    void roundTrip()
    {
        QRandomGenerator rng(20240229);
        for (int i = 0; i < 2000; ++i) {
            const QVariant tree = randomTree(rng, 5);
            const QString text = JsonCodec::serialize(tree);
            bool ok = false;
            const QVariant back = JsonCodec::parse(text, &ok);
            QVERIFY2(ok, qPrintable(text));
            QCOMPARE(typed(back), typed(tree));
            QCOMPARE(JsonCodec::serialize(back), text);
        }
    }
};

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
