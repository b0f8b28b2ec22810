#include "jsoncodec.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QtTest>

#include <limits>

namespace {

// Collects the debug stream while alive, so that failure logs can be checked
// and do not flood the test output.
class LogCapture
{
public:
    LogCapture() { previous = qInstallMessageHandler(&LogCapture::handler); lines().clear(); }
    ~LogCapture() { qInstallMessageHandler(previous); }
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message) { lines().append(message); }
    QtMessageHandler previous;
};

// Equality that also demands equal types: QVariant's own == treats 2 and 2.0,
// or "1" and true, as equal.
bool sameTree(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it)
            if (!sameTree(it.value(), y.value(it.key())))
                return false;
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (!sameTree(x[i], y[i]))
                return false;
        return true;
    }
    case QMetaType::Double:
        return a.toDouble() == b.toDouble();
    default:
        return a == b;
    }
}

QString str(QStringView text) { return text.toString(); }

QVariantList list(std::initializer_list<QVariant> items) { return QVariantList(items); }

QString randomText(QRandomGenerator &rng)
{
    static const char16_t pool[] = u"aZ09 _-/\\\"'\n\r\t\b\f\x01\x1f{}[]:,.*\u00e9\u0142\u20ac\xd83d\xde00";
    const int n = rng.bounded(12);
    QString s = QStringView(u"").toString();
    for (int i = 0; i < n; ++i)
        s.append(QChar(pool[rng.bounded(int(std::size(pool)) - 1)]));
    return s;
}

QVariant randomTree(QRandomGenerator &rng, int depth)
{
    switch (rng.bounded(depth > 0 ? 8 : 6)) {
    case 0: return QVariant();
    case 1: return QVariant(rng.bounded(2) == 1);
    case 2: return QVariant(qlonglong(rng.generate64()) >> rng.bounded(64));
    case 3: {
        // Doubles that survive 15 digits and keep a point or exponent in their text.
        for (;;) {
            const double raw = (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-12, 25));
            const QString text = QString::number(raw, 'g', 15);
            if (text.contains(u'.') || text.contains(u'e'))
                return QVariant(text.toDouble());
        }
    }
    case 4:
    case 5: return QVariant(randomText(rng));
    case 6: {
        QVariantList l;
        for (int i = rng.bounded(5); i > 0; --i)
            l.append(randomTree(rng, depth - 1));
        return l;
    }
    default: {
        QVariantMap m;
        for (int i = rng.bounded(5); i > 0; --i)
            m.insert(randomText(rng), randomTree(rng, depth - 1));
        return m;
    }
    }
}

} // namespace

class TestJson : public QObject
{
    Q_OBJECT

private slots:
    void serialize_data();
    void serialize();
    void parse_data();
    void parse();
    void malformed_data();
    void malformed();
    void failureIsLogged();
    void numbersOutOfRange();
    void deepNesting();
    void hugeString();
    void nulCharacters();
    void badUnicodeEscapes();
    void unterminatedComment();
    void emptyText();
    void roundTrip();
};

void TestJson::serialize_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("map in key order") << QVariant(QVariantMap{{"b", 1}, {"a", 2}}) << R"({"a":2,"b":1})";
    QTest::newRow("list") << QVariant(list({"x", QVariant(), true})) << R"(["x",null,true])";
    QTest::newRow("escapes") << QVariant(QString("/\"\\\n\r\t\u00e9z")) << R"("\/\"\\\n\r\t)" + str(u"\u00e9z\"");
    QTest::newRow("other control characters") << QVariant(QString("\x01\b\f\x1f")) << R"("\u0001\u0008\u000c\u001f")";
    QTest::newRow("empty containers") << QVariant(list({QVariantMap(), QVariantList()})) << "[{},[]]";
    QTest::newRow("empty string") << QVariant(QStringView(u"").toString()) << R"("")";
    QTest::newRow("null string") << QVariant(QString()) << "null";
    QTest::newRow("invalid") << QVariant() << "null";
    QTest::newRow("string list") << QVariant(QStringList{"a", "b"}) << R"(["a","b"])";
    QTest::newRow("false") << QVariant(false) << "false";
    QTest::newRow("int64 min") << QVariant(std::numeric_limits<qlonglong>::min()) << "-9223372036854775808";
    QTest::newRow("uint64 max") << QVariant(std::numeric_limits<qulonglong>::max()) << "18446744073709551615";
    QTest::newRow("2.0") << QVariant(2.0) << "2";
    QTest::newRow("0.5") << QVariant(0.5) << "0.5";
    QTest::newRow("1e20") << QVariant(1e20) << "1e+20";
    QTest::newRow("15 digits") << QVariant(0.1 + 0.2) << "0.3";
    QTest::newRow("small") << QVariant(1e-7) << "1e-07";
    QTest::newRow("tie rounds like Qt") << QVariant(433420148550146.5) << QString::number(433420148550146.5, 'g', 15);
    QTest::newRow("infinity") << QVariant(std::numeric_limits<double>::infinity()) << "null";
    QTest::newRow("nan") << QVariant(std::numeric_limits<double>::quiet_NaN()) << "null";
    QTest::newRow("date-time") << QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 9, 250))) << R"("2024-02-29T13:05:09")";
    QTest::newRow("null date-time") << QVariant(QDateTime()) << "null";
    QTest::newRow("float is text") << QVariant(1.5f) << R"("1.5")";
}

void TestJson::serialize()
{
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(JsonCodec::serialize(value), text);
}

void TestJson::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("comments");

    QTest::newRow("integer") << "2" << QVariant(2LL) << "";
    QTest::newRow("2.0") << "2.0" << QVariant(2.0) << "";
    QTest::newRow("2e0") << "2e0" << QVariant(2.0) << "";
    QTest::newRow(".5") << ".5" << QVariant(0.5) << "";
    QTest::newRow("leading zero") << "01" << QVariant(1LL) << "";
    QTest::newRow("minus ends a number") << "[1-2]" << QVariant(list({1LL, -2LL})) << "";
    QTest::newRow("no commas") << "[1 2]" << QVariant(list({1LL, 2LL})) << "";
    QTest::newRow("repeated commas") << "[1,,2,]" << QVariant(list({1LL, 2LL})) << "";
    QTest::newRow("only a comma") << "[,]" << QVariant(QVariantList()) << "";
    QTest::newRow("comment element") << "[1 /*c*/ ,2]" << QVariant(list({1LL, QVariant(), 2LL})) << "c";
    QTest::newRow("bare words") << "{a:1 b:hello}" << QVariant(QVariantMap{{"a", 1LL}, {"b", "hello"}}) << "";
    QTest::newRow("later key wins") << "{k:1,k:2}" << QVariant(QVariantMap{{"k", 2LL}}) << "";
    QTest::newRow("number key") << "{1.50:x}" << QVariant(QVariantMap{{"1.5", "x"}}) << "";
    QTest::newRow("null key") << "{null:1}" << QVariant(QVariantMap{{"", 1LL}}) << "";
    QTest::newRow("true") << "true" << QVariant(true) << "";
    QTest::newRow("false") << "false" << QVariant(false) << "";
    QTest::newRow("null") << "null" << QVariant() << "";
    QTest::newRow("quoted true") << R"("true")" << QVariant("true") << "";
    QTest::newRow("unicode escape") << R"("\u00e9\x")" << QVariant(str(u"\u00e9x")) << "";
    QTest::newRow("escapes") << R"("\/\"\\\b\f\n\r\t\0")" << QVariant(str(u"/\"\\\b\f\n\r\t") + QChar(0)) << "";
    QTest::newRow("open quote at top") << R"("abc)" << QVariant("abc") << "";
    QTest::newRow("trailing comment") << "1 /*done*/" << QVariant(1LL) << "done";
    QTest::newRow("empty comment") << "/**/1" << QVariant(1LL) << "";
    QTest::newRow("stars in comment") << "/*a*b**c*/1" << QVariant(1LL) << "a*b**c";
    QTest::newRow("exponent without digits") << "[1e]" << QVariant(list({0.0})) << "";
    QTest::newRow("spaces only") << "  \t\r\n" << QVariant(QStringView(u"").toString()) << "";
    QTest::newRow("no separators") << R"(["a""b"true[]{}])"
                                   << QVariant(list({"a", "b", true, QVariantList(), QVariantMap()})) << "";
    QTest::newRow("comment before bracket") << "[1 /*x*/]" << QVariant(list({1LL, QVariant()})) << "x";
    QTest::newRow("nested") << R"({"a":[{"b":null},-0.25e1]})"
                            << QVariant(QVariantMap{{"a", list({QVariantMap{{"b", QVariant()}}, -2.5})}}) << "";
    QTest::newRow("letters above latin-1") << "\u0142\u00f3d\u017a" << QVariant(str(u"\u0142\u00f3d\u017a")) << "";
}

void TestJson::parse()
{
    QFETCH(QString, text);
    QFETCH(QVariant, value);
    QFETCH(QString, comments);
    bool ok = false;
    QString sink;
    const QVariant result = JsonCodec::parse(text, &ok, &sink);
    QVERIFY(ok);
    QVERIFY2(sameTree(result, value), qPrintable(JsonCodec::serialize(result)));
    QCOMPARE(sink, comments);
}

void TestJson::malformed_data()
{
    QTest::addColumn<QString>("text");
    const char *cases[] = {"{a}", "{a b:1}", "{a:}", "{a:1", "{[1]:2}", "[1:2]", "[}]", "[/x]", "[1,/]", "1.2.3", "1x",
                           "1e", "/*x**/1", "]", ":", "[1,2", "{\"a\":[1", "[\"abc", "[1]]", "{a:1}}", "1 2",
                           "{a:1,:2}", "{a::1}", "[{]", "{\"a\" \"b\"}", "-+1", "{,a:1 b}"};
    for (const char *c : cases)
        QTest::newRow(c) << QString::fromUtf8(c);
}

void TestJson::malformed()
{
    QFETCH(QString, text);
    LogCapture log;
    bool ok = true;
    QVERIFY(!JsonCodec::parse(text, &ok).isValid());
    QVERIFY(!ok);
    QCOMPARE(log.lines().size(), 3);
}

void TestJson::failureIsLogged()
{
    LogCapture log;
    QVERIFY(!JsonCodec::parse("[1234:]").isValid());
    QCOMPARE(log.lines(), QStringList({"JSON ERROR BEGIN 5 7", "\":]\"", "JSON ERROR END"}));

    // A huge hostile body logs only a bounded piece of itself.
    log.lines().clear();
    QVERIFY(!JsonCodec::parse("[1:" + QString(1 << 20, u'x') + "]").isValid());
    QCOMPARE(log.lines().size(), 3);
    QCOMPARE(log.lines().at(1).size(), 1024 + 2);
}

void TestJson::numbersOutOfRange()
{
    bool ok = false;
    QVariant v = JsonCodec::parse("9223372036854775808", &ok);  // 2^63
    QVERIFY(ok);
    QCOMPARE(v.typeId(), QMetaType::LongLong);
    QCOMPARE(v.toLongLong(), 0);
    QCOMPARE(JsonCodec::parse("9223372036854775807").toLongLong(), std::numeric_limits<qlonglong>::max());
    QCOMPARE(JsonCodec::parse("-9223372036854775808").toLongLong(), std::numeric_limits<qlonglong>::min());
    QCOMPARE(JsonCodec::parse("-9223372036854775809").toLongLong(), 0);
    QVERIFY(sameTree(JsonCodec::parse("[184467440737095516160000,-]"), list({0LL, 0LL})));
    for (const char *text : {"1e400", "-1e400", "1e-400", "1e5e3", "1e+"}) {
        v = JsonCodec::parse(text, &ok);
        QVERIFY2(ok, text);
        QCOMPARE(v.typeId(), QMetaType::Double);
        QCOMPARE(v.toDouble(), 0.0);
    }
    QCOMPARE(JsonCodec::parse("4.9e-324").toDouble(), std::numeric_limits<double>::denorm_min());
}

void TestJson::deepNesting()
{
    LogCapture log;
    bool ok = false;
    const int limit = JsonCodec::maxDepth;
    QVariant v = JsonCodec::parse(QString(limit, u'[') + QString(limit, u']'), &ok);
    QVERIFY(ok);
    QCOMPARE(v.typeId(), QMetaType::QVariantList);
    JsonCodec::parse(QString(limit + 1, u'[') + QString(limit + 1, u']'), &ok);
    QVERIFY(!ok);

    const int deep = 100000;
    ok = true;
    QVERIFY(!JsonCodec::parse(QString(deep, u'[') + QString(deep, u']'), &ok).isValid());
    QVERIFY(!ok);
    ok = true;
    QVERIFY(!JsonCodec::parse(QString("{a:").repeated(deep) + "1" + QString(deep, u'}'), &ok).isValid());
    QVERIFY(!ok);
    ok = true;
    QVERIFY(!JsonCodec::parse(QString(deep, u'['), &ok).isValid());
    QVERIFY(!ok);
}

void TestJson::hugeString()
{
    QString body(10 * 1024 * 1024, u'a');
    body[77] = u'"';
    body[5000000] = u'\n';
    const QString text = JsonCodec::serialize(body);
    QCOMPARE(text.size(), body.size() + 4);
    bool ok = false;
    QCOMPARE(JsonCodec::parse(text, &ok).toString(), body);
    QVERIFY(ok);

    // Unclosed inside an array.
    LogCapture log;
    QVERIFY(!JsonCodec::parse("[\"" + QString(body.size(), u'a'), &ok).isValid());
    QVERIFY(!ok);
}

void TestJson::nulCharacters()
{
    const QString nul(QChar(0));
    bool ok = false;
    QCOMPARE(JsonCodec::parse("\"a" + nul + "b\"", &ok).toString(), "a" + nul + "b");
    QVERIFY(ok);
    QCOMPARE(JsonCodec::parse("[x" + nul + "y]", &ok), QVariant(list({QString("x" + nul + "y")})));
    QVERIFY(ok);
    QCOMPARE(JsonCodec::serialize(QString("a" + nul)), R"("a\u0000")");

    LogCapture log;
    JsonCodec::parse("1" + nul, &ok);
    QVERIFY(!ok);
    // A NUL character after the value is trailing text, not the end of it.
    ok = true;
    QVERIFY(!JsonCodec::parse("[1]" + nul + "[2]", &ok).isValid());
    QVERIFY(!ok);
}

void TestJson::badUnicodeEscapes()
{
    bool ok = false;
    // Characters that are not hexadecimal digits count as 0 and are still taken.
    QCOMPARE(JsonCodec::parse(R"("\u00zz!")", &ok).toString(), QString(QChar(0)) + "!");
    QVERIFY(ok);
    QCOMPARE(JsonCodec::parse(R"("\uD83D\uDE00")", &ok).toString(), str(u"\U0001F600"));
    // The closing quote counts as a digit here, so the string stays open.
    QCOMPARE(JsonCodec::parse(R"("\u12")", &ok).toString(), QString(QChar(0x1200)));
    QVERIFY(ok);
    LogCapture log;
    QVERIFY(!JsonCodec::parse(R"(["\u12"])", &ok).isValid());
    QVERIFY(!ok);
    QVERIFY(!JsonCodec::parse(R"({"a\u":1})", &ok).isValid());
    QVERIFY(!ok);
}

void TestJson::unterminatedComment()
{
    LogCapture log;
    for (const char *text : {"/* abc", "[1 /* x", "1 /*", "{a:/*1}", "/*a*"}) {
        bool ok = true;
        QString sink = "kept:";
        QVERIFY(!JsonCodec::parse(text, &ok, &sink).isValid());
        QVERIFY2(!ok, text);
        QVERIFY(sink.startsWith("kept:"));
    }
    QString sink;
    JsonCodec::parse("/* abc", nullptr, &sink);
    QCOMPARE(sink, " abc");
}

void TestJson::emptyText()
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
}

void TestJson::roundTrip()
{
    QRandomGenerator rng(20240229);
    for (int i = 0; i < 2000; ++i) {
        const QVariant tree = randomTree(rng, 5);
        const QString text = JsonCodec::serialize(tree);
        bool ok = false;
        const QVariant back = JsonCodec::parse(text, &ok);
        QVERIFY2(ok, qPrintable(text));
        QVERIFY2(sameTree(back, tree), qPrintable(text));
        QCOMPARE(JsonCodec::serialize(back), text);
    }
}

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
