// Cursors, lookups, selections and value indexes of the in-memory store.

#include "database.h"
#include "database_p.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

namespace {

int newTable(const QStringList &columns)
{
    static int counter = 0;
    return Database::addTable(QStringLiteral("select_%1").arg(++counter), columns);
}

QList<int> sorted(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

class TestSelect : public QObject
{
    Q_OBJECT

private slots:
    void cursors();
    void nextRow();
    void nullConditionsAskForSetCells_data();
    void nullConditionsAskForSetCells();
    void lookups();
    void indexUpkeep();
    void ranges_data();
    void ranges();
    void buildAndDropIndex();
    void indexedAndScannedAgree();
};

void TestSelect::cursors()
{
    RowCursor steps(4, {3, 7});
    QVERIFY(steps.next() && steps.row == 3);
    QVERIFY(steps.next() && steps.row == 7);
    QVERIFY(!steps.next() && steps.row == 0);
    QVERIFY(steps.next() && steps.row == 3); // starts over

    const int t = newTable({QStringLiteral("a"), QStringLiteral("b")});
    for (int i = 0; i < 3; ++i)
        Database::insertRow(t, {{0, i}, {1, QStringLiteral("x")}});
    RowCursor cursor = Database::allRows(t);
    // Before the first step the cursor has no row: neutral results, nothing listed.
    QVERIFY(!Database::value(cursor, 0).isValid());
    QVERIFY(!Database::setValue(cursor, 0, 5));
    QVERIFY(Database::rowValues(cursor).isEmpty());
    QVERIFY(!Database::removeRow(cursor));
    {
        QMutexLocker locker(&store_internal::tableMutex);
        QVERIFY(store_internal::tables.at(t).removedRows.isEmpty());
    }

    // Removing and adding rows while walking: the cursor keeps its snapshot.
    QList<int> seen;
    while (cursor.next()) {
        seen.append(cursor.row);
        QVERIFY(Database::setValue(cursor, 1, QStringLiteral("y")));
        QCOMPARE(Database::rowValues(cursor).value(1), QVariant(QStringLiteral("y")));
        QVERIFY(Database::removeRow(cursor));
        Database::newRow(t);
    }
    QCOMPARE(seen, QList<int>({1, 2, 3}));
    QCOMPARE(Database::select(t, Conditions()).rows, QList<int>({4, 5, 6}));
    QVERIFY(Database::select(t, QVariantMap{{QStringLiteral("nope"), 0}}).rows.isEmpty());
    QVERIFY(Database::select(t, Conditions{{2, 0}}).rows.isEmpty());
    const RowCursor none = Database::select(Database::tableCount(), Conditions());
    QCOMPARE(none.table, Database::tableCount());
    QVERIFY(none.rows.isEmpty());
}

void TestSelect::nextRow()
{
    const int t = newTable({QStringLiteral("a")});
    for (int i = 0; i < 6; ++i)
        Database::newRow(t);
    Database::removeRow(t, 3);
    Database::removeRow(t, 4);
    int row = 3; // no longer exists: the next larger one follows
    QVERIFY(Database::nextRow(t, row) && row == 5);
    row = 6;
    QVERIFY(!Database::nextRow(t, row) && row == 0);
    row = -1;
    QVERIFY(!Database::nextRow(t, row) && row == 0);
    QCOMPARE(Database::allRows(t).rows, QList<int>({1, 2, 5, 6}));
}

void TestSelect::nullConditionsAskForSetCells_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::newRow("scan") << false;
    QTest::newRow("index") << true;
}

void TestSelect::nullConditionsAskForSetCells()
{
    QFETCH(bool, indexed);
    const int t = newTable({QStringLiteral("a"), QStringLiteral("b")});
    Database::insertRow(t, {{0, QString()}, {1, 5}});           // 1: null string
    Database::insertRow(t, {{0, QStringLiteral("")}, {1, 5}});  // 2: empty, but set
    Database::insertRow(t, {{0, QStringLiteral("x")}, {1, 5}}); // 3
    Database::insertRow(t, {{0, QStringLiteral("y")}, {1, 6}}); // 4
    Database::insertRow(t, {{1, 5}});                           // 5: never set
    if (indexed) {
        Database::buildColumnIndex(t, 0);
        Database::buildColumnIndex(t, 1);
    }
    QCOMPARE(Database::select(t, 0, QVariant()).rows, QList<int>({2, 3, 4}));
    QCOMPARE(Database::select(t, 0, QVariant(QString())).rows, QList<int>({2, 3, 4}));
    // Next to a condition an index answers, the null one still applies.
    QCOMPARE(Database::select(t, {{0, QVariant()}, {1, 5}}).rows, QList<int>({2, 3}));
    QCOMPARE(Database::findRow(t, 0, QVariant()), 2);
    QCOMPARE(Database::findRow(t, {{0, QVariant()}, {1, 6}}), 4);
    // The empty string is index-equal to null but matches only set cells.
    QCOMPARE(Database::select(t, 0, QStringLiteral("")).rows, QList<int>({2}));
    QCOMPARE(Database::findRow(t, 0, QStringLiteral("")), 2);
}

void TestSelect::lookups()
{
    const int indexed = newTable({QStringLiteral("name"), QStringLiteral("value")});
    const int plain = newTable({QStringLiteral("name"), QStringLiteral("value")});
    Database::buildColumnIndex(indexed, 0);
    for (const int t : {indexed, plain}) {
        for (int i = 0; i < 6; ++i)
            Database::insertRow(t, {{0, QStringLiteral("n%1").arg(i)}, {1, i}});
        Database::setValue(t, 5, 0, QStringLiteral("n1"));
    }
    // The index answers with the row that took the value last, a scan with
    // the lowest row.
    QCOMPARE(Database::findRow(indexed, 0, QStringLiteral("n1")), 5);
    QCOMPARE(Database::findRow(plain, 0, QStringLiteral("n1")), 2);
    QCOMPARE(Database::lookupValue(indexed, 0, QStringLiteral("n3"), 1), QVariant(3));
    QVERIFY(!Database::lookupValue(indexed, 0, QStringLiteral("missing"), 1).isValid());
    QCOMPARE(Database::valueWhere(plain, QVariantMap{{QStringLiteral("name"), QStringLiteral("n2")}}, 1),
             QVariant(2));
    QCOMPARE(Database::findRow(indexed, QVariantMap{{QStringLiteral("nope"), 0}}), 0);

    QVERIFY(!Database::insertUnique(indexed, QVariantMap{{QStringLiteral("name"), QStringLiteral("n2")}}));
    QVERIFY(Database::insertUnique(indexed, QVariantMap{{QStringLiteral("name"), QStringLiteral("n9")}}));
    QCOMPARE(Database::findRow(indexed, 0, QStringLiteral("n9")), 7);
    // No values: the first row is found, so only an empty table gets one.
    QCOMPARE(Database::findRow(indexed, Conditions()), 1);
    QVERIFY(!Database::insertUnique(indexed, Conditions()));
    const int empty = newTable({QStringLiteral("id")});
    QVERIFY(Database::insertUnique(empty, Conditions()));
    QVERIFY(!Database::insertUnique(empty, Conditions()));
}

void TestSelect::indexUpkeep()
{
    const int t = newTable({QStringLiteral("type"), QStringLiteral("owner"), QStringLiteral("note")});
    for (int i = 0; i < 300; ++i)
        Database::insertRow(t, {{0, i % 3 ? QStringLiteral("pin") : QStringLiteral("skrin")}, {1, i % 10}});
    Database::buildColumnIndex(t, 0);
    Database::buildColumnIndex(t, 1);
    const Conditions both{{0, QStringLiteral("skrin")}, {1, 4}};
    QCOMPARE(Database::select(t, both).rows, QList<int>({25, 55, 85, 115, 145, 175, 205, 235, 265, 295}));
    QCOMPARE(Database::findRow(t, both), 25);

    // Changes and removals move the rows in the indexes.
    QVERIFY(Database::setValue(t, 25, 1, 7));
    QVERIFY(Database::removeRow(t, 55));
    QVERIFY(Database::setValue(t, 85, 2, QStringLiteral("marked")));
    QCOMPARE(Database::findRow(t, both), 85);
    QCOMPARE(Database::select(t, {{0, QStringLiteral("skrin")}, {2, QStringLiteral("marked")}}).rows,
             QList<int>({85}));

    // A new row enters an index only when its cell is first set.
    const int fresh = Database::newRow(t);
    QVERIFY(!Database::selectAtLeast(t, 1, -1000).rows.contains(fresh));
    QVERIFY(Database::setValue(t, fresh, 1, 4));
    QVERIFY(Database::setValue(t, fresh, 0, QStringLiteral("skrin")));
    QCOMPARE(Database::findRow(t, 1, 4), fresh);
    QCOMPARE(Database::select(t, both).rows.last(), fresh);
}

void TestSelect::ranges_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::newRow("scan") << false;
    QTest::newRow("index") << true;
}

void TestSelect::ranges()
{
    QFETCH(bool, indexed);
    const int t = newTable({QStringLiteral("id")});
    for (const qint64 id : {-3, 10, -1, 5, 7, 5, 100})
        Database::insertRow(t, {{0, id}});
    if (indexed)
        Database::buildColumnIndex(t, 0);
    Database::newRow(t); // row 8, never set: orders like ""

    QCOMPARE(sorted(Database::selectBetween(t, 0, 5, 10).rows), QList<int>({2, 4, 5, 6}));
    QCOMPARE(sorted(Database::selectBetween(t, 0, 10, 5).rows), QList<int>({2, 4, 5, 6}));
    QCOMPARE(sorted(Database::selectAtLeast(t, 0, 7).rows), QList<int>({2, 5, 7}));
    QVERIFY(Database::selectAtLeast(t, 1, 0).rows.isEmpty());
    QVERIFY(Database::selectBetween(t, -1, 0, 1).rows.isEmpty());
    if (indexed) {
        // Index order: ascending values, newest first among equal ones; the
        // unset cell is not in the index.
        QCOMPARE(Database::selectAtLeast(t, 0, 5).rows, QList<int>({6, 4, 5, 2, 7}));
        QCOMPARE(Database::selectAtLeast(t, 0, QStringLiteral("")).rows, QList<int>({6, 4, 5, 2, 7}));
    } else {
        QCOMPARE(Database::selectAtLeast(t, 0, QStringLiteral("")).rows, QList<int>({2, 4, 5, 6, 7, 8}));
    }
}

void TestSelect::buildAndDropIndex()
{
    const int t = newTable({QStringLiteral("v")});
    Database::insertRow(t, {{0, 1}});
    Database::insertRow(t, {{0, 1}});
    Database::buildColumnIndex(t, 0);
    QVERIFY(Database::hasColumnIndex(t, 0));
    QCOMPARE(Database::findRow(t, 0, 1), 2); // built ascending: the higher row first

    // Building again keeps the index as it is.
    Database::setValue(t, 1, 0, 2);
    Database::setValue(t, 1, 0, 1);
    Database::buildColumnIndex(t, 0);
    QCOMPARE(Database::findRow(t, 0, 1), 1);

    Database::dropColumnIndex(t, 0);
    QVERIFY(!Database::hasColumnIndex(t, 0));
    QCOMPARE(Database::select(t, 0, 1).rows, QList<int>({1, 2}));
    Database::buildColumnIndex(t, 1);
    Database::buildColumnIndex(Database::tableCount(), 0);
    QVERIFY(!Database::hasColumnIndex(t, 1));
}

void TestSelect::indexedAndScannedAgree()
{
    // The same random work on an indexed and an unindexed table must give
    // the same selections.
    const QStringList columns{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    const int indexedTable = newTable(columns);
    const int plainTable = newTable(columns);
    Database::buildColumnIndex(indexedTable, 0);
    Database::buildColumnIndex(indexedTable, 1);

    QRandomGenerator random(20240607);
    const auto randomValue = [&random]() -> QVariant {
        switch (random.bounded(8)) {
        case 0: return QVariant(qint64(random.bounded(5)));
        case 1: return QVariant(random.bounded(5));
        case 2: return QVariant(uint(random.bounded(5)));
        case 3: return QVariant(QString::number(random.bounded(5)));
        case 4: return QVariant(QByteArray::number(random.bounded(5)));
        case 5: return QVariant(QStringLiteral("t%1").arg(random.bounded(3)));
        case 6: return QVariant(QString());
        default: return QVariant(double(random.bounded(5)) + (random.bounded(2) ? 0.5 : 0.0));
        }
    };

    int nonEmpty = 0;
    for (int step = 0; step < 3000; ++step) {
        const int action = random.bounded(10);
        const int row = random.bounded(1, step / 3 + 2);
        if (action < 3) {
            const Conditions values{{0, randomValue()}, {1, randomValue()}, {2, randomValue()}};
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
    }
    QVERIFY(nonEmpty > 50); // the comparisons above were not all trivial
}

QTEST_GUILESS_MAIN(TestSelect)
#include "tst_select.moc"
