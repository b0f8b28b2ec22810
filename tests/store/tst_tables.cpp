// The in-memory store: rows and cells, cell equality, cursors, selections
// and value indexes.

#include "database.h"
#include "database_p.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

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
        QCOMPARE(Database::select(t, 0, "").rows, QList<int>({1, 2}));
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
        QTest::newRow("1.0, text 1e400") << QVariant(1.0) << QVariant("1e400") << false;
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

        QRandomGenerator random(20240607);
        const auto randomValue = [&random]() -> QVariant {
            switch (random.bounded(8)) {
            case 0: return QVariant(qint64(random.bounded(5)));
            case 1: return QVariant(random.bounded(5));
            case 2: return QVariant(uint(random.bounded(5)));
            case 3: return QVariant(QString::number(random.bounded(5)));
            case 4: return QVariant(QByteArray::number(random.bounded(5)));
            case 5: return QVariant(QStringLiteral("t%1").arg(random.bounded(3)));
            case 6: return random.bounded(2) ? QVariant(QString()) : QVariant(""); // null, and index-equal to it
            default: return QVariant(double(random.bounded(5)) + (random.bounded(2) ? 0.5 : 0.0));
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
};

QTEST_GUILESS_MAIN(TestTables)
#include "tst_tables.moc"
