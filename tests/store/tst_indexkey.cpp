// The order of value indexes: the index keys, which avoid allocating for
// integers and texts, must order exactly as comparing toLongLong() and then
// the unsigned bytes of toByteArray() does; and built, changed and removed
// index entries must keep that order with the newest first among equals.

#include "database.h"
#include "database_p.h"

#include <QDateTime>
#include <QDebug>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The order defined directly on what QVariant gives: every null as the
// number 0 with no bytes, anything else by toLongLong(), then by the
// unsigned bytes of toByteArray().
struct Reference
{
    qint64 number = 0;
    QByteArray bytes;

    explicit Reference(const QVariant &value)
    {
        if (!isNullValue(value)) {
            number = value.toLongLong();
            bytes = value.toByteArray();
        }
    }
};

int referenceCompare(const Reference &a, const Reference &b)
{
    if (a.number != b.number)
        return a.number < b.number ? -1 : 1;
    const qsizetype common = qMin(a.bytes.size(), b.bytes.size());
    const int c = common > 0 ? std::memcmp(a.bytes.constData(), b.bytes.constData(), size_t(common)) : 0;
    if (c != 0)
        return c < 0 ? -1 : 1;
    return a.bytes.size() == b.bytes.size() ? 0 : (a.bytes.size() < b.bytes.size() ? -1 : 1);
}

int sign(int c)
{
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

QString fromUcs4(std::initializer_list<char32_t> codePoints)
{
    QString text;
    for (const char32_t c : codePoints)
        text += QChar::fromUcs4(c);
    return text;
}

// Values where a cheaper key could go wrong: number texts as Qt reads them,
// code points around the surrogates, unpaired surrogates, every null.
QList<QVariant> edgeValues()
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    QList<QVariant> values{
        QVariant(), QVariant(QString()), QVariant(QByteArray()), QVariant(QDateTime()),
        QVariant(QMetaType::fromType<qlonglong>()), QVariant(QMetaType::fromType<int>()),
        0, 1, -1, 5, 9, 10, 12, -12, 100, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
        qint64(lowest), qint64(highest), qint64(lowest + 1), uint(5), std::numeric_limits<uint>::max(),
        quint64(5), quint64(highest), quint64(highest) + 1, std::numeric_limits<quint64>::max(),
        0.0, -0.0, 2.5, 3.0, -2.5, 1e20, 1e-7, std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), 5.0f, true, false,
        QVariant::fromValue(char('5')), QVariant::fromValue(qint16(-5)), QVariant::fromValue(long(5)),
        QVariant::fromValue(qulonglong(12)), QVariant(QChar(u'5')),
        QByteArray("5"), QByteArray("05"), QByteArray("abc"), QByteArray("\xff"), QByteArray("\x80z"), QByteArray(""),
        QDateTime(QDate(2024, 3, 1), QTime(12, 0)), QDate(2024, 3, 1), QTime(12, 0),
    };
    const char16_t *texts[] = {u"", u"0", u"00", u"5", u"05", u" 5", u"5 ", u"+5", u"-5", u"- 5", u"\t12\n", u"12",
                               u"12abc", u"1e3", u"0x10", u"9223372036854775807", u"9223372036854775808",
                               u"-9223372036854775808", u"abc", u"abd", u"ab", u"z", u"\u00e9", u"\u00a05",
                               u"5\u00a0", u"\u0665", u"\uff15", u"\u00b2", u"\u20055", u"\ud7ff", u"\ue000",
                               u"\uffff", u"\ufffd", u"?", u"a?b"};
    for (const char16_t *text : texts)
        values.append(QString::fromUtf16(text));
    const QString nul(QChar(0));
    values.append(nul);
    values.append(QStringLiteral("a") + nul);
    values.append(nul + QStringLiteral("a"));
    values.append(fromUcs4({0x10000}));
    values.append(fromUcs4({0x10ffff}));
    values.append(fromUcs4({0x1d7d3})); // a mathematical digit five
    values.append(fromUcs4({u'a', 0x1f600, u'b'}));
    values.append(fromUcs4({u'a', 0xffff, u'b'}));
    // Unpaired surrogates, which UTF-8 cannot hold.
    values.append(QString(QChar(0xd800)));
    values.append(QString(QChar(0xdc00)));
    values.append(QStringLiteral("a") + QChar(0xd800) + QStringLiteral("b"));
    values.append(QStringLiteral("a") + QChar(0xdfff));
    values.append(QString(QChar(0xdc00)) + QChar(0xd800));
    values.append(QStringLiteral("5") + QChar(0xd83d));
    return values;
}

// Random texts from characters that matter to the order and to number
// parsing, often with equal starts so that comparisons go past eight bytes.
QString randomText(QRandomGenerator &random)
{
    static const char32_t palette[] = {u'a', u'b', u'z', u'A', u'0', u'1', u'5', u'9', u' ', u'+', u'-', u'.', u'e',
                                       u'x', 0x00, 0x7f, 0x80, 0xa0, 0xe9, 0x7ff, 0x800, 0x665, 0xff15, 0x4e2d,
                                       0xd7ff, 0xe000, 0xf8ff, 0xfffd, 0xffff, 0x10000, 0x1d7d3, 0x1f600, 0x10ffff};
    QString text;
    if (random.bounded(4) == 0)
        text = QStringLiteral("shared-prefix-");
    const int length = int(random.bounded(12));
    for (int i = 0; i < length; ++i) {
        const int pick = int(random.bounded(40));
        if (pick < int(std::size(palette)))
            text += QChar::fromUcs4(palette[pick]);
        else if (pick < 38)
            text += QChar(char16_t(0xe000 + random.bounded(0x2000))); // U+E000..U+FFFF
        else
            text += QChar::fromUcs4(char32_t(0x10000 + random.bounded(0x100000 - 0x10000)));
    }
    if (random.bounded(50) == 0)
        text.insert(int(random.bounded(int(text.size()) + 1)), QChar(char16_t(0xd800 + random.bounded(0x800))));
    return text;
}

QVariant randomValue(QRandomGenerator &random)
{
    switch (random.bounded(9)) {
    case 0:
        return int(random.bounded(-20, 20));
    case 1:
        return qint64(random.generate64() >> random.bounded(64));
    case 2:
        return QString::number(random.bounded(-20, 20));
    case 3:
        return (random.bounded(3) == 0 ? QStringLiteral(" ") : QString()) + QString::number(random.bounded(100));
    case 4:
        return random.bounded(40.0) - 20.0;
    case 5:
        return QByteArray::number(random.bounded(100)) + (random.bounded(2) ? QByteArray("\xc3\xa9") : QByteArray());
    case 6:
        return random.bounded(10) == 0 ? QVariant() : QVariant(QString());
    default:
        return randomText(random);
    }
}

int newTable(const QStringList &columns)
{
    static int counter = 0;
    return Database::addTable(QStringLiteral("indexkey_%1").arg(++counter), columns);
}

// What an index over `cells` must list: keys ascending, and among index-equal
// keys the entry made last first. `made` says when each row's entry was made.
QList<int> expectedOrder(const QMap<int, QVariant> &cells, const QMap<int, int> &made)
{
    QList<int> rows = cells.keys();
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
        const int c = referenceCompare(Reference(cells.value(a)), Reference(cells.value(b)));
        return c != 0 ? c < 0 : made.value(a) > made.value(b);
    });
    return rows;
}

// Every row of the column's index in index order.
QList<int> indexOrder(int table, int column)
{
    QMutexLocker locker(&store_internal::tableMutex);
    const Table &t = store_internal::tables.at(table);
    QList<int> rows;
    const auto index = t.valueIndexes.constFind(column);
    if (index != t.valueIndexes.cend()) {
        for (const auto &entry : *index)
            rows.append(entry.second);
    }
    return rows;
}

} // namespace

class TestIndexKey : public QObject
{
    Q_OBJECT

private slots:
    void ordersAsTheValuesDo();
    void textOrderFollowsCodePoints();
    void indexOrderAfterBuildAndChanges();
    void keyColumnsBuiltTogether();
};

void TestIndexKey::ordersAsTheValuesDo()
{
    QList<QVariant> values = edgeValues();
    QRandomGenerator random(20240301);
    while (values.size() < 1500)
        values.append(randomValue(random));

    QList<IndexKey> keys;
    QList<Reference> references;
    for (const QVariant &value : std::as_const(values)) {
        keys.append(IndexKey::of(value));
        references.append(Reference(value));
    }
    for (qsizetype i = 0; i < values.size(); ++i) {
        for (qsizetype j = 0; j < values.size(); ++j) {
            const int expected = referenceCompare(references.at(i), references.at(j));
            if (sign(IndexKey::compare(keys.at(i), keys.at(j))) != expected) {
                QFAIL(qPrintable(QStringLiteral("%1 against %2: expected %3")
                                     .arg(QDebug::toString(values.at(i)), QDebug::toString(values.at(j)))
                                     .arg(expected)));
            }
        }
    }
    // variantLess is the same order, and lookups by the key of an equal
    // value find the entry.
    for (qsizetype i = 0; i + 1 < values.size(); ++i) {
        const int expected = referenceCompare(references.at(i), references.at(i + 1));
        QCOMPARE(variantLess(values.at(i), values.at(i + 1)), expected < 0);
        QCOMPARE(variantLess(values.at(i + 1), values.at(i)), expected > 0);
    }
}

void TestIndexKey::textOrderFollowsCodePoints()
{
    // U+FFFF is one UTF-16 unit above the surrogates that encode U+10000,
    // but below it as a code point and in UTF-8.
    const QString bmp = fromUcs4({0xffff});
    const QString supplementary = fromUcs4({0x10000});
    QVERIFY(bmp > supplementary); // UTF-16 unit order
    QVERIFY(variantLess(bmp, supplementary));
    QVERIFY(variantLess(fromUcs4({u'a', 0xe000}), fromUcs4({u'a', 0x1f600})));
    QVERIFY(variantLess(QStringLiteral("abcdefgh1"), QStringLiteral("abcdefgh2"))); // past the first eight bytes
    // An unpaired surrogate becomes "?" in UTF-8, so it orders as "?" does.
    QVERIFY(!variantLess(QString(QChar(0xd800)), QStringLiteral("?")));
    QVERIFY(!variantLess(QStringLiteral("?"), QString(QChar(0xd800))));
    QVERIFY(variantLess(QString(QChar(0xd800)), QStringLiteral("A")));
    // A text and an integer with the same number and bytes are index-equal.
    QVERIFY(!variantLess(QStringLiteral("12"), 12) && !variantLess(12, QStringLiteral("12")));
    QVERIFY(variantLess(QStringLiteral("012"), 12));
    QVERIFY(variantLess(12, QStringLiteral("12 ")));
}

void TestIndexKey::indexOrderAfterBuildAndChanges()
{
    const int t = newTable({QStringLiteral("key"), QStringLiteral("other")});
    QRandomGenerator random(7);
    // Few distinct values of mixed types, so that many rows tie.
    QList<QVariant> pool = edgeValues().mid(0, 30);
    for (int i = 0; i < 20; ++i)
        pool.append(randomValue(random));

    QMap<int, QVariant> cells;
    QMap<int, int> made;
    int clock = 0;
    for (int i = 0; i < 400; ++i) {
        const QVariant value = pool.at(random.bounded(int(pool.size())));
        const int row = Database::insertRow(t, {{0, value}, {1, i}});
        cells.insert(row, Database::value(t, row, 0));
    }
    // A fresh cell never set is indexed too, as a null.
    const int blank = Database::newRow(t);
    cells.insert(blank, QVariant());
    Database::buildColumnIndex(t, 0);
    for (auto it = cells.cbegin(); it != cells.cend(); ++it)
        made.insert(it.key(), ++clock); // built in ascending row order
    QCOMPARE(indexOrder(t, 0), expectedOrder(cells, made));

    // Changed rows go first among their new equals; removed rows leave.
    for (int i = 0; i < 300; ++i) {
        const int row = cells.keys().at(random.bounded(int(cells.size())));
        if (random.bounded(5) == 0) {
            QVERIFY(Database::removeRow(t, row));
            cells.remove(row);
            continue;
        }
        const QVariant value = pool.at(random.bounded(int(pool.size())));
        if (Database::setValue(t, row, 0, value)) {
            cells[row] = value;
            made[row] = ++clock;
        }
    }
    // A row made after the build enters the index when its cell is set.
    const int late = Database::insertRow(t, {{0, QStringLiteral("late")}});
    cells.insert(late, QStringLiteral("late"));
    made.insert(late, ++clock);
    QCOMPARE(indexOrder(t, 0), expectedOrder(cells, made));
    // Same for the selections that read the index.
    QCOMPARE(Database::selectBetween(t, 0, QStringLiteral("late"), QStringLiteral("late")).rows, QList<int>{late});

    // A lookup gives the row that took the value last.
    const int lower = cells.firstKey();
    QVERIFY(Database::setValue(t, late, 0, QStringLiteral("twin")));
    QVERIFY(Database::setValue(t, lower, 0, QStringLiteral("twin")));
    QCOMPARE(Database::findRow(t, 0, QStringLiteral("twin")), lower);
    QVERIFY(Database::setValue(t, late, 0, QStringLiteral("other")));
    QVERIFY(Database::setValue(t, late, 0, QStringLiteral("twin")));
    QCOMPARE(Database::findRow(t, 0, QStringLiteral("twin")), late);
}

void TestIndexKey::keyColumnsBuiltTogether()
{
    // Large enough for the columns to be built on several threads.
    const int t = newTable({QStringLiteral("id"), QStringLiteral("parent"), QStringLiteral("name"),
                            QStringLiteral("file")});
    QRandomGenerator random(11);
    QMap<int, QVariant> byColumn[4];
    for (int i = 0; i < 25000; ++i) {
        const QVariant file = random.bounded(4) == 0 ? QVariant(QString()) : QVariant(randomText(random));
        const int row = Database::insertRow(t, {{0, qint64(1000 + i)},
                                                {1, qint64(random.bounded(50))},
                                                {2, QStringLiteral("n%1").arg(random.bounded(3000))},
                                                {3, file}});
        for (int column = 0; column < 4; ++column)
            byColumn[column].insert(row, Database::value(t, row, column));
    }
    // Repeated and invalid requests are ignored, as one at a time they would be.
    store_internal::buildIndexesTogether([t] {
        for (const int column : {3, 0, 1, 2, 1, 9, -1})
            Database::buildColumnIndex(t, column);
        Database::buildColumnIndex(Database::tableCount(), 0);
    });
    QMap<int, int> made;
    for (auto it = byColumn[0].cbegin(); it != byColumn[0].cend(); ++it)
        made.insert(it.key(), it.key());
    for (int column = 0; column < 4; ++column) {
        QVERIFY(Database::hasColumnIndex(t, column));
        QCOMPARE(indexOrder(t, column), expectedOrder(byColumn[column], made));
    }
    QVERIFY(!Database::hasColumnIndex(t, 9));

    // The position records work: a change moves the entry, a removal drops it.
    QVERIFY(Database::setValue(t, 5, 1, qint64(777)));
    QCOMPARE(Database::findRow(t, 1, qint64(777)), 5);
    QVERIFY(Database::removeRow(t, 5));
    QCOMPARE(Database::findRow(t, 1, qint64(777)), 0);
    QCOMPARE(Database::findRow(t, 0, qint64(1000 + 4)), 0);
    QCOMPARE(Database::findRow(t, 0, qint64(1000 + 5)), 6);
}

QTEST_GUILESS_MAIN(TestIndexKey)
#include "tst_indexkey.moc"
