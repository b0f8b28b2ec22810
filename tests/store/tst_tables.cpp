// The in-memory store: rows and cells, cell equality, cursors, selections
// and value indexes. The index keys, which avoid allocating for integers and
// texts, must order exactly as comparing toLongLong() and then the unsigned
// bytes of toByteArray() does; and built, changed and removed index entries
// must keep that order with the newest first among equals.

#include "rowcells_p.h"
#include "storetest.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

int newTable(const QStringList &columns)
{
    static int counter = 0;
    return Database::addTable(QStringLiteral("tables_%1").arg(++counter), columns);
}

// The rows the next flush would delete from the file.
QList<int> removedRows(int table)
{
    QMutexLocker locker(&store_internal::tableMutex);
    return store_internal::tables.at(table).removedRows;
}

QList<int> sorted(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The order defined directly on what QVariant gives: every null as the
// number 0 with no bytes, anything else by toLongLong(), then by the
// unsigned bytes of toByteArray().
struct Reference
{
    explicit Reference(const QVariant &v)
        : number(isNullValue(v) ? 0 : v.toLongLong()), bytes(isNullValue(v) ? QByteArray() : v.toByteArray())
    {
    }
    static int compare(const Reference &a, const Reference &b)
    {
        const int c = a.number != b.number ? (a.number < b.number ? -1 : 1) : a.bytes.compare(b.bytes);
        return (c > 0) - (c < 0);
    }
    qint64 number;
    QByteArray bytes;
};

// Values where a cheaper key could go wrong: number texts as Qt reads them,
// code points around the surrogates, unpaired surrogates, every null.
QList<QVariant> edgeValues()
{
    using Int = std::numeric_limits<int>;
    using Long = std::numeric_limits<qint64>;
    QList<QVariant> values{
        QVariant(), QVariant(QString()), QVariant(QByteArray()), QVariant(QDateTime()),
        QVariant(QMetaType::fromType<qlonglong>()), QVariant(QMetaType::fromType<int>()),
        0, 1, -1, 5, 9, 10, 12, -12, 100, Int::min(), Int::max(), Long::min(), Long::max(), Long::min() + 1,
        uint(5), std::numeric_limits<uint>::max(), quint64(5), quint64(Long::max()), quint64(Long::max()) + 1,
        std::numeric_limits<quint64>::max(), 0.0, -0.0, 2.5, 3.0, -2.5, 1e20, 1e-7,
        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(), 5.0f, true, false,
        QVariant::fromValue(char('5')), QVariant::fromValue(qint16(-5)), QVariant::fromValue(long(5)),
        QVariant::fromValue(qulonglong(12)), QVariant(QChar(u'5')),
        QByteArray("5"), QByteArray("05"), QByteArray("abc"), QByteArray("\xff"), QByteArray("\x80z"), QByteArray(""),
        QDateTime(QDate(2024, 3, 1), QTime(12, 0)), QDate(2024, 3, 1), QTime(12, 0),
    };
    // U+10000 and above are below U+FFFF in UTF-16 units but above it as code points.
    const char16_t *texts[] = {u"", u"0", u"00", u"5", u"05", u" 5", u"5 ", u"+5", u"-5", u"- 5", u"\t12\n", u"12",
                               u"12abc", u"1e3", u"0x10", u"9223372036854775807", u"9223372036854775808",
                               u"-9223372036854775808", u"abc", u"abd", u"ab", u"z", u"\u00e9", u"\u00a05",
                               u"5\u00a0", u"\u0665", u"\uff15", u"\u00b2", u"\u20055", u"\ud7ff", u"\ue000",
                               u"\uffff", u"\ufffd", u"?", u"a?b", u"abcdefgh1", u"abcdefgh2", u"\U00010000",
                               u"\U0010ffff", u"\U0001d7d3", u"a\U0001f600b", u"a\uffffb"};
    for (const char16_t *text : texts)
        values.append(QString::fromUtf16(text));
    // NUL, and unpaired surrogates, which UTF-8 cannot hold and turns into "?".
    const QChar nul(0), high(0xd800), low(0xdc00);
    for (const QString &text : {QString(nul), u'a' + QString(nul), nul + QString(u'a'), QString(high), QString(low),
                                u'a' + QString(high) + u'b', u'a' + QString(QChar(0xdfff)), QString(low) + high,
                                u'5' + QString(QChar(0xd83d))})
        values.append(text);
    return values;
}

// Random texts from characters that matter to the order and to number
// parsing, often with equal starts so that comparisons go past eight bytes.
QString randomText(QRandomGenerator &random)
{
    static const char32_t palette[] = {u'a', u'b', u'z', u'A', u'0', u'1', u'5', u'9', u' ', u'+', u'-', u'.', u'e',
                                       u'x', 0x00, 0x7f, 0x80, 0xa0, 0xe9, 0x7ff, 0x800, 0x665, 0xff15, 0x4e2d,
                                       0xd7ff, 0xe000, 0xf8ff, 0xfffd, 0xffff, 0x10000, 0x1d7d3, 0x1f600, 0x10ffff};
    QString text = random.bounded(4) == 0 ? QStringLiteral("shared-prefix-") : QString();
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
    case 0: return int(random.bounded(-20, 20));
    case 1: return qint64(random.generate64() >> random.bounded(64));
    case 2: return QString::number(random.bounded(-20, 20));
    case 3: return (random.bounded(3) == 0 ? QStringLiteral(" ") : QString()) + QString::number(random.bounded(100));
    case 4: return random.bounded(40.0) - 20.0;
    case 5: return QByteArray::number(random.bounded(100)) + (random.bounded(2) ? QByteArray("\xc3\xa9") : "");
    case 6: return random.bounded(10) == 0 ? QVariant() : QVariant(QString());
    default: return randomText(random);
    }
}

// What an index over `cells` must list: keys ascending, and among index-equal
// keys the entry made last first. `made` says when each row's entry was made.
QList<int> expectedOrder(const QMap<int, QVariant> &cells, const QMap<int, int> &made)
{
    QList<int> rows = cells.keys();
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
        const int c = Reference::compare(Reference(cells.value(a)), Reference(cells.value(b)));
        return c != 0 ? c < 0 : made.value(a) > made.value(b);
    });
    return rows;
}

} // namespace

class TestTables : public QObject
{
    Q_OBJECT

private slots:
    void rowsCursorsAndBadArguments()
    {
        const int t = newTable({"a", "b"});
        QCOMPARE(Database::insertRow(t, {{1, "one"}, {7, 1}, {-2, 1}}), 1); // out of range: ignored
        QCOMPARE(Database::rowValues(t, 1), QVector<QVariant>({QVariant(), "one"}));
        QCOMPARE(Database::newRow(t), 2);
        // A cursor keeps its snapshot while rows go and come; row numbers are
        // never handed out twice, not even the highest removed one.
        RowCursor cursor = Database::allRows(t);
        QVERIFY(!Database::removeRow(cursor)); // no row before the first step
        while (cursor.next()) {
            QVERIFY(Database::removeRow(cursor));
            Database::newRow(t);
        }
        QCOMPARE(Database::allRows(t).rows, QList<int>({3, 4}));
        // A missing row is reported and not listed, so the flush is never
        // asked to delete a row that was not there.
        for (const int missing : {1, 42, 0, -5})
            QVERIFY(!Database::removeRow(t, missing));
        QCOMPARE(removedRows(t), QList<int>({1, 2}));
        // A value equal to the cell (by cellEquals) is no change.
        QVERIFY(Database::setValue(t, 3, 0, qint64(5)));
        QVERIFY(!Database::setValue(t, 3, 0, "5"));
        QVERIFY(Database::setValue(t, 3, 0, 5.5));
        QVERIFY(!Database::insertUnique(t, Conditions{{0, 5.5}}));
        QVERIFY(Database::insertUnique(t, Conditions{{0, 6}})); // row 5
        QVERIFY(Database::removeRow(t, 4));
        int next = 4; // gone: the next larger one follows
        QVERIFY(Database::nextRow(t, next) && next == 5);
        const int bad = Database::tableCount();
        QCOMPARE(Database::newRow(bad), -1);
        QVERIFY(!Database::removeRow(bad, 1));
        const std::pair<int, int> badCells[] = {{0, 0}, {-1, 0}, {3, -1}, {3, 2}, {9, 0}};
        for (const auto &[row, column] : badCells) {
            QVERIFY(!Database::setValue(t, row, column, 9));
            QVERIFY(!Database::value(t, row, column).isValid());
        }
    }

    // A cell gives back exactly the value it was given: type, nullness and
    // value, texts kept in place, in a block of their own or shared.
    void cellsKeepTheirValues()
    {
        const int t = newTable({"v"});
        const QString longText = QStringLiteral("a text longer than fits in place");
        const QVariantList values{QVariant(QMetaType::fromType<QString>()), QVariant(QString()), QString(""),
                                  QStringLiteral("short"), QString::fromUtf8("z\u00e9\u0142"), longText,
                                  longText.mid(3), QStringLiteral("\U0001F600"), QVariant(qint64(1) << 40), 7, 2.5, true,
                                  7u, QDateTime(QDate(2024, 2, 3), QTime(4, 5, 6)), QByteArray("b\0b", 3)};
        for (const QVariant &value : values) {
            const int row = Database::insertRow(t, {{0, value}});
            const QVariant back = Database::rowValues(t, row).value(0);
            QCOMPARE(back.typeId(), value.typeId());
            QCOMPARE(back.isNull(), value.isNull());
            QCOMPARE(back, value);
        }
        QVERIFY(!Database::value(t, Database::newRow(t), 0).isValid());
    }

    // A null wanted value asks for a cell that is set, next to indexed
    // conditions too; "" asks for "" or a null (they mean the same).
    void nullConditionsAskForSetCells()
    {
        const int t = newTable({"a", "b"});
        Database::insertRow(t, {{0, QString()}, {1, 5}}); // 1: null string
        Database::insertRow(t, {{0, ""}, {1, 5}});        // 2: empty, but set
        Database::insertRow(t, {{0, "x"}, {1, 6}});       // 3
        Database::insertRow(t, {{1, 5}});                 // 4: never set
        Database::buildColumnIndex(t, 1);
        QCOMPARE(Database::select(t, 0, QVariant()).rows, QList<int>({2, 3}));
        QCOMPARE(Database::select(t, {{0, QVariant(QString())}, {1, 5}}).rows, QList<int>({2}));
        Database::buildColumnIndex(t, 0);
        QCOMPARE(Database::findRow(t, 0, QVariant()), 2);
        QCOMPARE(Database::select(t, 0, "").rows, QList<int>({1, 2, 4})); // 4: NULL in the file
    }

    void cellEquality_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("equal");
        const QVariant sqlNull{QMetaType::fromType<qlonglong>()}; // NULL as SQLite returns it
        const QDateTime when(QDate(2023, 12, 31), QTime(23, 59, 58, 7));
        const QString iso = when.toString(Qt::ISODateWithMs);
        QTest::newRow("untyped, untyped") << QVariant() << QVariant() << true;
        QTest::newRow("untyped, null string") << QVariant() << QVariant(QString()) << false;
        QTest::newRow("null string, SQL NULL") << QVariant(QString()) << sqlNull << true;
        QTest::newRow("null date-time, null string") << QVariant(QDateTime()) << QVariant(QString()) << true;
        QTest::newRow("SQL NULL, 0") << sqlNull << QVariant(0) << false;
        QTest::newRow("null string, empty") << QVariant(QString()) << QVariant("") << true;
        QTest::newRow("empty bytes, SQL NULL") << QVariant(QByteArray("")) << sqlNull << true;
        QTest::newRow("untyped, empty") << QVariant() << QVariant("") << false;
        QTest::newRow("2.5, 3") << QVariant(2.5) << QVariant(3) << false;
        QTest::newRow("2^53+1, 2^53 as double") << QVariant(qint64(9007199254740993)) << QVariant(9007199254740992.0)
                                                << false;
        QTest::newRow("max uint64, -1") << QVariant(quint64(~0ULL)) << QVariant(-1) << false;
        QTest::newRow("5, text 05") << QVariant(5) << QVariant("05") << true;
        QTest::newRow("empty, 0") << QVariant("") << QVariant(0) << false;
        QTest::newRow("3, text 2.5") << QVariant(3) << QVariant("2.5") << false;
        QTest::newRow("-1, text 2^63-1") << QVariant(-1) << QVariant("9223372036854775807") << false; // no wrap
        QTest::newRow("1.0, text 1e400") << QVariant(1.0) << QVariant("1e400") << false;
        // A flag is the whole number 1 or 0, as the file holds it.
        QTest::newRow("text abc, true") << QVariant("abc") << QVariant(true) << false;
        QTest::newRow("false, empty") << QVariant(false) << QVariant("") << false;
        QTest::newRow("true, text 01") << QVariant(true) << QVariant("01") << true;
        QTest::newRow("text, same bytes") << QVariant("abc") << QVariant(QByteArray("abc")) << true;
        QTest::newRow("date-time, ISO text") << QVariant(when) << QVariant(iso) << true;
        QTest::newRow("ISO text, date-time") << QVariant(iso) << QVariant(when) << true;
        QTest::newRow("text without ms, date-time") << QVariant(when.toString(Qt::ISODate)) << QVariant(when) << false;
        QTest::newRow("date-time, junk") << QVariant(when) << QVariant("soon") << false;
        QTest::newRow("text, list") << QVariant("a") << QVariant(QVariantList{1}) << false;
    }

    void cellEquality()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, value);
        QFETCH(bool, equal);
        QCOMPARE(cellEquals(stored, value), equal);
    }

    // The same random work on an indexed and an unindexed table must give
    // the same selections: conditions on indexed columns, null ones (a set
    // cell) and "" (index-equal to null) among them, answer as the scan does,
    // and so do ranges over rows whose indexed cell was never set.
    void indexedAndScannedAgree()
    {
        const int indexedTable = newTable({"a", "b", "c"});
        const int plainTable = newTable({"a", "b", "c"});
        Database::buildColumnIndex(indexedTable, 0);

        // Equal cells of different types and keys: 1e6 and 1000000, "05",
        // "+5" and 5, "" and a never-set cell, true and "abc".
        QRandomGenerator random(20240607);
        const auto randomValue = [&random]() -> QVariant {
            const qint64 n = QList<qint64>{0, 1, 5, 1000000}.at(random.bounded(4));
            const char *forms[] = {"%1", "0%1", "+%1", " %1", "%1.0", "%1e0", "-%1", "%1.5", "t%1", "true"};
            switch (random.bounded(10)) {
            case 0: return QVariant(n);
            case 1: return QVariant(int(n));
            case 2: return QVariant(uint(n));
            case 3: return QVariant(QString::fromLatin1(forms[random.bounded(10)]).arg(n));
            case 4: return QVariant(QString::fromLatin1(forms[random.bounded(10)]).arg(n).toUtf8());
            case 5: return QVariant(random.bounded(2) ? double(n) : -double(n) - 0.5);
            case 6: return random.bounded(2) ? QVariant(QString()) : QVariant(""); // null, and index-equal to it
            case 7: return QVariant(random.bounded(2) == 0);
            case 8: return QVariant(float(n));
            default:
                const QDateTime when = QDateTime::fromSecsSinceEpoch(n, Qt::UTC);
                return random.bounded(2) ? QVariant(when) : QVariant(when.toString(Qt::ISODateWithMs));
            }
        };
        int nonEmpty = 0;
        for (int step = 0; step < 3000; ++step) {
            const int action = random.bounded(10);
            const int row = random.bounded(1, step / 3 + 2);
            if (step == 1500)
                Database::buildColumnIndex(indexedTable, 1);
            if (action < 3) {
                Conditions values;
                for (int column = 0; column < 3; ++column) {
                    if (random.bounded(4) != 0)
                        values.insert(column, randomValue());
                }
                QCOMPARE(Database::insertRow(indexedTable, values), Database::insertRow(plainTable, values));
            } else if (action < 8) {
                const int column = random.bounded(3);
                const QVariant value = randomValue();
                QCOMPARE(Database::setValue(indexedTable, row, column, value),
                         Database::setValue(plainTable, row, column, value));
            } else {
                QCOMPARE(Database::removeRow(indexedTable, row), Database::removeRow(plainTable, row));
            }
            if (step % 10 != 0)
                continue;

            Conditions conditions{{0, randomValue()}};
            if (random.bounded(2))
                conditions.insert(1, randomValue());
            if (random.bounded(2))
                conditions.insert(2, randomValue());
            const QVariant unique = randomValue();
            QCOMPARE(Database::insertUnique(indexedTable, Conditions{{0, unique}}),
                     Database::insertUnique(plainTable, Conditions{{0, unique}}));
            const QList<int> expected = Database::select(plainTable, conditions).rows;
            nonEmpty += expected.isEmpty() ? 0 : 1;
            QCOMPARE(Database::select(indexedTable, conditions).rows, expected);
            const int found = Database::findRow(indexedTable, conditions);
            if (conditions.size() > 1)
                QCOMPARE(found, expected.value(0));
            else
                QVERIFY(found == 0 ? expected.isEmpty() : expected.contains(found));
            const QVariant low = randomValue();
            const QVariant high = randomValue();
            QCOMPARE(sorted(Database::selectBetween(indexedTable, 0, low, high).rows),
                     Database::selectBetween(plainTable, 0, low, high).rows);
            QCOMPARE(sorted(Database::selectAtLeast(indexedTable, 1, low).rows),
                     Database::selectAtLeast(plainTable, 1, low).rows);
        }
        QVERIFY(nonEmpty > 50); // the comparisons above were not all trivial
    }

    void ordersAsTheValuesDo()
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
                const int expected = Reference::compare(references.at(i), references.at(j));
                const int c = IndexKey::compare(keys.at(i), keys.at(j));
                if ((c > 0) - (c < 0) != expected) {
                    QFAIL(qPrintable(QStringLiteral("%1 against %2: expected %3")
                                         .arg(QDebug::toString(values.at(i)), QDebug::toString(values.at(j)))
                                         .arg(expected)));
                }
            }
        }
        // variantLess is the same order.
        for (qsizetype i = 0; i + 1 < values.size(); ++i) {
            const int expected = Reference::compare(references.at(i), references.at(i + 1));
            QCOMPARE(variantLess(values.at(i), values.at(i + 1)), expected < 0);
            QCOMPARE(variantLess(values.at(i + 1), values.at(i)), expected > 0);
        }
    }

    // Built together, on several threads for a table this large, and then
    // changed: each index lists its rows in the expected order. Keys that
    // count down row by row, as local ids do, are built in order too, alone
    // and with ties.
    // The rows of one reading share allocations; each still lives, changes
    // and goes on its own, after the reading too.
    void rowsReadTogetherStandAlone()
    {
        std::vector<RowCells> rows;
        {
            RowCells::Batch batch(3);
            for (int i = 0; i < 500; ++i) {
                RowCells row = batch.take();
                row.set(0, QVariant(qint64(i)));
                row.set(2, QVariant(QString(100, QChar(u'a' + i % 26))));
                rows.push_back(std::move(row));
            }
            RowCells::Batch noColumns(0);
            QCOMPARE(noColumns.take().size(), 0);
        }
        RowCells copy = rows[7];
        copy.set(0, QVariant(qint64(-7)));
        QCOMPARE(rows[7].at(0), QVariant(qint64(7)));
        QCOMPARE(copy.at(0), QVariant(qint64(-7)));
        // Freed in another order than made: every second one, then from the end.
        for (size_t i = 0; i < rows.size(); i += 2)
            rows[i] = RowCells();
        for (; !rows.empty(); rows.pop_back()) {
            if (rows.back().isNull())
                continue;
            const int i = int(rows.size()) - 1;
            QCOMPARE(rows.back().at(0), QVariant(qint64(i)));
            QVERIFY(!rows.back().at(1).isValid());
            QCOMPARE(rows.back().at(2).toString(), QString(100, QChar(u'a' + i % 26)));
        }
        QCOMPARE(copy.at(2).toString(), QString(100, QChar(u'h')));
    }

    void indexOrderAfterBuildAndChanges()
    {
        const int t = newTable({"key", "id", "name", "file", "down", "pairs"});
        QRandomGenerator random(11);
        // Few distinct values of mixed types in "key", so that many rows tie.
        QList<QVariant> pool = edgeValues().mid(0, 30);
        for (int i = 0; i < 20; ++i)
            pool.append(randomValue(random));
        QMap<int, QVariant> cells[6];
        // Rows entered as opening the store enters them: texts as the file
        // gives them, unpaired surrogates included, which insertRow refuses.
        // Rows made as a reading makes them, and changed and removed below.
        RowCells::Batch batch(6);
        const auto load = [t, &batch](const QVector<QVariant> &values) {
            RowCells rowCells = batch.take();
            for (int column = 0; column < values.size(); ++column)
                rowCells.set(column, values.at(column));
            QMutexLocker locker(&store_internal::tableMutex);
            Table &table = store_internal::tables[t];
            table.addRow(table.nextRowNumber, std::move(rowCells));
            return table.nextRowNumber++;
        };
        for (int i = 0; i < 25000; ++i) {
            const QVariant file = random.bounded(4) == 0 ? QVariant(QString()) : QVariant(randomText(random));
            const int row = load({pool.at(random.bounded(int(pool.size()))), qint64(1000 + i),
                                  QStringLiteral("n%1").arg(random.bounded(3000)), file, qint64(25000 - i),
                                  qint64((25001 - i) / 2)});
            for (int column = 0; column < 6; ++column)
                cells[column].insert(row, Database::value(t, row, column));
        }
        // A fresh cell never set is indexed too, as a null.
        const int blank = Database::newRow(t);
        for (auto &column : cells)
            column.insert(blank, QVariant());
        // Repeated and invalid requests are ignored, as one at a time they would be.
        store_internal::buildIndexesTogether([t] {
            for (const int column : {3, 0, 1, 2, 1, 9, -1, 4, 5})
                Database::buildColumnIndex(t, column);
            Database::buildColumnIndex(Database::tableCount(), 0);
        });
        QMap<int, int> made; // built in ascending row order
        for (int row = 1; row <= blank; ++row)
            made.insert(row, row);
        for (int column = 0; column < 6; ++column)
            QCOMPARE(indexOrder(t, column), expectedOrder(cells[column], made));
        QCOMPARE(Database::findRow(t, 5, qint64(12497)), 8); // the later of rows 7 and 8
        QVERIFY(!Database::hasColumnIndex(t, 9));

        // Changed rows go first among their new equals; removed rows leave.
        // The order holds when the index runs out of stamps and renumbers.
        {
            QMutexLocker locker(&store_internal::tableMutex);
            store_internal::tables[t].valueIndexes[0].setStampLimit(quint32(blank) + 100);
        }
        int clock = blank;
        for (int i = 0; i < 300; ++i) {
            const int row = random.bounded(1, blank + 1);
            if (random.bounded(5) == 0) {
                QCOMPARE(Database::removeRow(t, row), cells[0].remove(row) == 1);
                continue;
            }
            const QVariant value = pool.at(random.bounded(int(pool.size())));
            if (Database::setValue(t, row, 0, value)) {
                cells[0][row] = value;
                made[row] = ++clock;
            }
        }
        // A row made after the build enters the index at once.
        const int late = Database::insertRow(t, {{0, "late"}});
        cells[0].insert(late, "late");
        made.insert(late, ++clock);
        QCOMPARE(indexOrder(t, 0), expectedOrder(cells[0], made));
        QCOMPARE(Database::selectBetween(t, 0, "late", "late").rows, QList<int>{late});

        // A lookup gives the row that took the value last.
        const int lower = cells[0].firstKey();
        QVERIFY(Database::setValue(t, late, 0, "twin"));
        QVERIFY(Database::setValue(t, lower, 0, "twin"));
        QCOMPARE(Database::findRow(t, 0, "twin"), lower);
        QVERIFY(Database::setValue(t, late, 0, "other"));
        QVERIFY(Database::setValue(t, late, 0, "twin"));
        QCOMPARE(Database::findRow(t, 0, "twin"), late);
    }

    // Declared indexes asked for early are built on the store's own thread
    // while lookups go on, which answer as before; a column without a
    // declared index stays without. Stopping drops what was not built yet.
    void declaredIndexesAreBuiltSoon()
    {
        const auto built = [](int table, int column) {
            QMutexLocker locker(&store_internal::tableMutex);
            return store_internal::tables.at(table).valueIndexes.contains(column);
        };
        QList<int> made;
        for (int n = 0; n < 6; ++n) {
            const int t = newTable({"parent", "name", "plain"});
            for (int i = 0; i < 3000; ++i)
                Database::insertRow(t, {{0, i % 7}, {1, QStringLiteral("n%1").arg(i)}, {2, i}});
            store_internal::buildIndexesTogether([t] {
                Database::buildColumnIndex(t, 0);
                Database::buildColumnIndex(t, 1);
            });
            made.append(t);
        }
        const int t = made.first();
        QVERIFY(!built(t, 0) && !built(t, 1));
        Database::buildDeclaredIndexesSoon({{t, 1}, {t, 2}, {t, 0}, {Database::tableCount(), 0}, {t, -1}});
        QCOMPARE(Database::findRow(t, 1, "n42"), 43);
        QCOMPARE(Database::select(t, 0, 3).rows.size(), 429); // i % 7 == 3 below 3000
        store_internal::waitForIndexBuilder();
        QVERIFY(built(t, 0) && built(t, 1));
        QVERIFY(!built(t, 2));
        QCOMPARE(Database::findRow(t, 1, "n2999"), 3000);
        QCOMPARE(Database::select(t, 0, 3).rows.size(), 429); // i % 7 == 3 below 3000

        QList<QPair<int, int>> rest;
        for (const int table : made.mid(1))
            rest << QPair<int, int>(table, 0) << QPair<int, int>(table, 1);
        Database::buildDeclaredIndexesSoon(rest);
        store_internal::stopIndexBuilder();
        int builtWhenStopped = 0;
        for (const auto &[table, column] : std::as_const(rest))
            builtWhenStopped += built(table, column) ? 1 : 0;
        QTest::qWait(50);
        int builtLater = 0;
        for (const auto &[table, column] : std::as_const(rest))
            builtLater += built(table, column) ? 1 : 0;
        QCOMPARE(builtLater, builtWhenStopped);
        // Asked again, the builder starts again.
        Database::buildDeclaredIndexesSoon(rest);
        store_internal::waitForIndexBuilder();
        for (const auto &[table, column] : std::as_const(rest))
            QVERIFY(built(table, column));
    }

    // The builder copies the rows a slice at a time and builds from the copy
    // with no lock held: while it is paused there, other threads write and
    // look up (they would wait forever on a lock it held). A selection meanwhile
    // scans and finds the rows the index would; rows written meanwhile enter
    // the finished index as if written after it, in row order. A single-row
    // lookup, whose answer depends on the index's order, builds the index
    // itself, and then the builder's copy is dropped.
    void indexBuiltBesideWritesAndLookups()
    {
        for (const bool findFirst : {false, true}) {
            QRandomGenerator random(findFirst ? 7 : 8);
            // Past the size at which the build walks the rows on several threads.
            const int t = newTable({"key", "other"});
            QMap<int, QVariant> cells;
            for (int i = 0; i < 25000; ++i) {
                // A value many rows share, which rows written later take too.
                const QVariant value = i % 500 == 0 ? QVariant(QStringLiteral("common")) : randomValue(random);
                const int row = Database::insertRow(t, {{0, value}, {1, i}});
                if (row > 0) // not a text the file could not keep
                    cells.insert(row, Database::value(t, row, 0));
            }
            store_internal::buildIndexesTogether([t] { Database::buildColumnIndex(t, 0); });
            const auto matching = [&cells](const QString &value) {
                QList<int> rows;
                for (auto it = cells.cbegin(); it != cells.cend(); ++it) {
                    if (it.value() == value)
                        rows.append(it.key());
                }
                return rows;
            };

            QSemaphore paused;
            QSemaphore resume;
            bool first = true;
            store_internal::setIndexBuilderCopiedHook([&] {
                if (!std::exchange(first, false))
                    return;
                paused.release();
                resume.acquire();
            });
            Database::buildDeclaredIndexesSoon({{t, 0}});
            QVERIFY(paused.tryAcquire(1, 10000));

            QMap<int, int> made; // when each row's entry was made
            for (auto it = cells.cbegin(); it != cells.cend(); ++it)
                made.insert(it.key(), it.key());
            int clock = 100000;
            QList<int> written;
            QList<int> touched; // ascending
            const auto writeSome = [&](const QString &tag) {
                for (int i = 0; i < 40; ++i) {
                    const int row = random.bounded(1, 25001);
                    if (!cells.contains(row) || written.contains(row) || touched.contains(row))
                        continue;
                    if (i % 5 == 0) {
                        QVERIFY(Database::removeRow(t, row));
                        cells.remove(row);
                        continue;
                    }
                    // Another column's change leaves the row's entry where it is.
                    QVERIFY(Database::setValue(t, row, 1, QStringLiteral("touched")));
                    touched.insert(std::lower_bound(touched.begin(), touched.end(), row), row);
                    if (i % 3 == 0)
                        continue;
                    // Equal keys among them, and beside rows not written.
                    const QVariant value = i % 4 == 1 ? QStringLiteral("common") : tag + QString::number(i % 4);
                    QVERIFY(Database::setValue(t, row, 0, value));
                    cells[row] = value;
                    written.append(row);
                }
                const int added = Database::insertRow(t, {{0, tag + QStringLiteral("0")}});
                cells.insert(added, tag + QStringLiteral("0"));
                written.append(added);
                QCOMPARE(Database::rowCount(t), int(cells.size()));
                QCOMPARE(Database::findRow(t, 1, "touched"), touched.value(0));
            };
            writeSome(QStringLiteral("before "));
            QCOMPARE(Database::select(t, 0, QStringLiteral("common")).rows, matching(QStringLiteral("common")));
            if (findFirst) {
                // Built here from the rows as they stand: the higher row first.
                QCOMPARE(Database::findRow(t, 0, QStringLiteral("before 0")),
                         matching(QStringLiteral("before 0")).value(0) > 0
                             ? matching(QStringLiteral("before 0")).last() : 0);
                for (const int row : std::as_const(written))
                    made[row] = row;
                written.clear();
                writeSome(QStringLiteral("after "));
            }
            // Into the index built by the lookup each goes as it is written;
            // into the builder's, in row order once it is done.
            if (!findFirst)
                std::sort(written.begin(), written.end());
            for (const int row : std::as_const(written))
                made[row] = ++clock;
            resume.release();
            store_internal::waitForIndexBuilder();
            store_internal::setIndexBuilderCopiedHook({});

            QCOMPARE(indexOrder(t, 0), expectedOrder(cells, made));
            for (const QString &value : {QStringLiteral("common"), QStringLiteral("before 2"), QStringLiteral("after 2")})
                QCOMPARE(Database::select(t, 0, value).rows, matching(value));
        }
    }

    // Keys arriving in order, in reverse order and in between, then many
    // rows removed: the index stays whole and ordered as it grows and shrinks.
    void indexThroughGrowthAndRemoval()
    {
        const int t = newTable({"key"});
        Database::buildColumnIndex(t, 0);
        QMap<int, QVariant> cells;
        QMap<int, int> made;
        const auto insert = [&](const QVariant &key) {
            const int row = Database::insertRow(t, {{0, key}});
            cells.insert(row, key);
            made.insert(row, row);
        };
        for (int i = 0; i < 2000; ++i)
            insert(qint64(i)); // rows 1 to 2000
        for (int i = 1; i <= 2000; ++i)
            insert(-i); // rows 2001 to 4000
        for (int i = 0; i < 2000; ++i)
            insert(QStringLiteral("text %1").arg(9999 - i, 4, 10, QLatin1Char('0'))); // rows 4001 to 6000
        for (int i = 0; i < 1000; ++i)
            insert(qint64(i * 2) + 1); // rows 6001 to 7000
        QCOMPARE(indexOrder(t, 0), expectedOrder(cells, made));
        // All negative keys go, and nine in ten of the rest before row 6500.
        for (const int row : cells.keys()) {
            if ((row > 2000 && row <= 4000) || (row % 10 != 0 && row < 6500)) {
                QVERIFY(Database::removeRow(t, row));
                cells.remove(row);
            }
        }
        QCOMPARE(indexOrder(t, 0), expectedOrder(cells, made));
        QCOMPARE(Database::findRow(t, 0, qint64(1500)), 0);
        QCOMPARE(Database::findRow(t, 0, qint64(1499)), 6750); // the newer of rows 1500 and 6750
        QCOMPARE(Database::findRow(t, 0, qint64(1999)), 7000);
        QCOMPARE(Database::selectBetween(t, 0, "text 8000", "text 8099").rows.size(), 10);
        QVERIFY(Database::selectBetween(t, 0, -2000, -1).rows.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTables)
#include "tst_tables.moc"
