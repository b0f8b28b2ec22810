// Tables, rows and cells of the in-memory store, the change lists the flush
// consumes, and the value rules (null, equality, index order).

#include "database.h"
#include "database_p.h"

#include <QDateTime>
#include <QTest>

namespace {

int newTable(const QStringList &columns)
{
    static int counter = 0;
    return Database::addTable(QStringLiteral("tables_%1").arg(++counter), columns);
}

// The pending work of one table, as the next flush would take it.
struct Pending
{
    QList<int> inserted;
    QHash<int, QSet<int>> dirty;
    QList<int> removed;
};

Pending pending(int table)
{
    QMutexLocker locker(&store_internal::tableMutex);
    const Table &t = store_internal::tables.at(table);
    return Pending{t.insertedRows, t.dirtyCells, t.removedRows};
}

} // namespace

class TestTables : public QObject
{
    Q_OBJECT

private slots:
    void lookups();
    void rowsAndBadArguments();
    void changeBookkeeping();
    void removeRowListsOnlyExistingRows();
    void copiedTableKeepsItsOwnIndexes();
    void cellEquality_data();
    void cellEquality();
    void nullAndIndexOrder();
};

void TestTables::lookups()
{
    const int t = newTable({QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("id")});
    const QString name = Database::tableName(t);
    QCOMPARE(Database::tableId(name), t);
    QCOMPARE(Database::tableId(QStringLiteral("no_such_table")), -1);
    // A repeated column name maps to its later position; both stay columns.
    QCOMPARE(Database::columnId(t, QStringLiteral("id")), 2);
    QCOMPARE(Database::columnName(t, 0), QStringLiteral("id"));
    QCOMPARE(Database::columnName(t, 3), QString());
    QCOMPARE(Database::columnNames(t).size(), 3);
    // Unknown names collapse onto -1, holding the value of the last of them.
    const QVariantMap byName{{QStringLiteral("name"), 7}, {QStringLiteral("x"), 1}, {QStringLiteral("y"), 2}};
    QCOMPARE(Database::columnIds(t, byName), Conditions({{1, 7}, {-1, 2}}));

    // A second table of the same name takes the name over; the first keeps
    // its number and rows.
    Database::newRow(t);
    const int again = Database::addTable(name, {QStringLiteral("z")});
    QCOMPARE(again, Database::tableCount() - 1);
    QCOMPARE(Database::tableId(name), again);
    QCOMPARE(Database::rowCount(t), 1);
}

void TestTables::rowsAndBadArguments()
{
    const int t = newTable({QStringLiteral("a"), QStringLiteral("b")});
    const int bad = Database::tableCount();
    QVERIFY(Database::isEmpty(t));
    QCOMPARE(Database::newRow(t), 1);
    QCOMPARE(Database::newRow(t), 2);
    QVERIFY(!Database::value(t, 1, 0).isValid()); // a fresh cell has no type
    QVERIFY(Database::setValue(t, 2, 1, QStringLiteral("two")));
    QCOMPARE(Database::rowValues(t, 2), QVector<QVariant>({QVariant(), QStringLiteral("two")}));

    // Row numbers are never handed out twice, not even the highest removed one.
    QVERIFY(Database::removeRow(t, 2));
    QCOMPARE(Database::newRow(t), 3);
    QCOMPARE(Database::rowCount(t), 2);

    QCOMPARE(Database::newRow(bad), -1);
    QCOMPARE(Database::insertRow(bad, {{0, 1}}), -1);
    QVERIFY(Database::isEmpty(bad));
    const std::pair<int, int> badCells[] = {{0, 0}, {-1, 0}, {1, -1}, {1, 2}, {2, 0}};
    for (const auto &[row, column] : badCells) {
        QVERIFY(!Database::setValue(t, row, column, 9));
        QVERIFY(!Database::value(t, row, column).isValid());
    }
    QVERIFY(!Database::setValue(bad, 1, 0, 9));
    QVERIFY(Database::rowValues(t, 0).isEmpty());
    QVERIFY(Database::rowValues(bad, 1).isEmpty());
    QVERIFY(!Database::removeRow(bad, 1));
}

void TestTables::changeBookkeeping()
{
    const int t = newTable({QStringLiteral("n"), QStringLiteral("s")});
    const int row = Database::newRow(t);

    // An untyped value on a fresh cell is no change; a typed null string is.
    QVERIFY(!Database::setValue(t, row, 0, QVariant()));
    QVERIFY(pending(t).dirty.isEmpty());
    QVERIFY(Database::setValue(t, row, 1, QVariant(QString())));
    // An int 5 on a 64-bit 5, or the text "5", is no change; 5.5 is.
    QVERIFY(Database::setValue(t, row, 0, qint64(5)));
    QVERIFY(!Database::setValue(t, row, 0, 5));
    QVERIFY(!Database::setValue(t, row, 0, QStringLiteral("5")));
    QVERIFY(Database::setValue(t, row, 0, 5.5));
    QCOMPARE(pending(t).inserted, QList<int>({row}));
    QCOMPARE(pending(t).dirty.value(row), QSet<int>({0, 1}));

    // Removing keeps the row in the inserted and dirty lists for the flush.
    QVERIFY(Database::removeRow(t, row));
    const Pending p = pending(t);
    QCOMPARE(p.inserted, QList<int>({row}));
    QCOMPARE(p.dirty.value(row), QSet<int>({0, 1}));
    QCOMPARE(p.removed, QList<int>({row}));

    // insertRow: untyped values list nothing, columns out of range are ignored.
    const int blank = Database::insertRow(t, {{0, QVariant()}, {7, 1}, {-2, 1}});
    QVERIFY(Database::rowValues(t, blank) == QVector<QVariant>(2));
    QCOMPARE(pending(t).inserted, QList<int>({row, blank}));
    QVERIFY(!pending(t).dirty.contains(blank));

    // A date-time equals its ISO text as SQLite gives it back.
    const QDateTime when(QDate(2024, 3, 1), QTime(12, 30, 15, 250));
    QVERIFY(Database::setValue(t, blank, 1, when.toString(Qt::ISODateWithMs)));
    QVERIFY(!Database::setValue(t, blank, 1, when));
    QVERIFY(Database::setValue(t, blank, 1, when.addMSecs(1)));
}

void TestTables::removeRowListsOnlyExistingRows()
{
    const int t = newTable({QStringLiteral("a")});
    const int row = Database::newRow(t);
    // A missing row is reported and not listed, so the flush is never asked
    // to delete a row that was not there.
    QVERIFY(!Database::removeRow(t, 42));
    QVERIFY(!Database::removeRow(t, 0));
    QVERIFY(!Database::removeRow(t, -5));
    QVERIFY(Database::removeRow(t, row));
    QVERIFY(!Database::removeRow(t, row));
    QCOMPARE(pending(t).removed, QList<int>({row}));
}

void TestTables::copiedTableKeepsItsOwnIndexes()
{
    const int t = newTable({QStringLiteral("key")});
    for (int i = 0; i < 50; ++i)
        Database::insertRow(t, {{0, i % 5}});
    Database::buildColumnIndex(t, 0);

    // Change a copy and the original: neither may touch the other's index
    // (the sanitizer build catches stale entry positions).
    Table copy;
    {
        QMutexLocker locker(&store_internal::tableMutex);
        copy = store_internal::tables.at(t);
        for (int row = 1; row <= 10; ++row)
            copy.indexCell(0, row, 99);
    }
    for (int row = 1; row <= 20; ++row)
        QVERIFY(Database::removeRow(t, row));
    QVERIFY(Database::select(t, 0, 99).rows.isEmpty());
    QCOMPARE(Database::select(t, 0, 3).rows.size(), 6);
    QCOMPARE(copy.valueIndexes.value(0).count(IndexKey::of(99)), size_t(10));
    QCOMPARE(copy.valueIndexes.value(0).size(), size_t(50));
}

void TestTables::cellEquality_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("equal");

    const QVariant sqlNull{QMetaType::fromType<qlonglong>()}; // NULL as SQLite returns it
    const QDateTime when(QDate(2023, 12, 31), QTime(23, 59, 58, 7));
    QTest::newRow("untyped, untyped") << QVariant() << QVariant() << true;
    QTest::newRow("untyped, null string") << QVariant() << QVariant(QString()) << false;
    QTest::newRow("null string, SQL NULL") << QVariant(QString()) << sqlNull << true;
    QTest::newRow("SQL NULL, 0") << sqlNull << QVariant(0) << false;
    QTest::newRow("null string, empty") << QVariant(QString()) << QVariant(QStringLiteral("")) << false;
    QTest::newRow("double, int") << QVariant(5.0) << QVariant(5) << true;
    QTest::newRow("2.5, 3") << QVariant(2.5) << QVariant(3) << false;
    QTest::newRow("2^53+1, 2^53 as double") << QVariant(qint64(9007199254740993)) << QVariant(9007199254740992.0)
                                            << false;
    QTest::newRow("max uint64, -1") << QVariant(quint64(~0ULL)) << QVariant(-1) << false;
    QTest::newRow("5, text 05") << QVariant(5) << QVariant(QStringLiteral("05")) << true;
    QTest::newRow("text 1, true") << QVariant(QStringLiteral("1")) << QVariant(true) << true;
    QTest::newRow("empty, 0") << QVariant(QStringLiteral("")) << QVariant(0) << false;
    QTest::newRow("3, text 2.5") << QVariant(3) << QVariant(QStringLiteral("2.5")) << false;
    QTest::newRow("1.0, text 1e400") << QVariant(1.0) << QVariant(QStringLiteral("1e400")) << false;
    QTest::newRow("text, same bytes") << QVariant(QStringLiteral("abc")) << QVariant(QByteArray("abc")) << true;
    QTest::newRow("date-time, ISO text") << QVariant(when) << QVariant(when.toString(Qt::ISODateWithMs)) << true;
    QTest::newRow("ISO text, date-time") << QVariant(when.toString(Qt::ISODateWithMs)) << QVariant(when) << true;
    QTest::newRow("text without ms, date-time") << QVariant(when.toString(Qt::ISODate)) << QVariant(when) << false;
    QTest::newRow("date-time, junk") << QVariant(when) << QVariant(QStringLiteral("soon")) << false;
    QTest::newRow("text, list") << QVariant(QStringLiteral("a")) << QVariant(QVariantList{1}) << false;
}

void TestTables::cellEquality()
{
    QFETCH(QVariant, stored);
    QFETCH(QVariant, value);
    QFETCH(bool, equal);
    QCOMPARE(cellEquals(stored, value), equal);
}

void TestTables::nullAndIndexOrder()
{
    QVERIFY(isNullValue(QVariant()));
    QVERIFY(isNullValue(QVariant(QString())));
    QVERIFY(isNullValue(QVariant(QDateTime())));
    QVERIFY(isNullValue(QVariant(QMetaType::fromType<qlonglong>())));
    QVERIFY(!isNullValue(QVariant(QStringLiteral(""))));
    QVERIFY(!isNullValue(QVariant(0)));

    const auto text = [](const char *s) { return QVariant(QString::fromUtf8(s)); };
    QVERIFY(variantLess(text("9"), text("10")));
    QVERIFY(!variantLess(text("10"), text("9")));
    QVERIFY(variantLess(text("abc"), text("abd")));
    QVERIFY(variantLess(text("abc"), text("1")));
    QVERIFY(variantLess(QVariant(-1), text("abc")));
    QVERIFY(variantLess(text(""), QVariant(0)));
    QVERIFY(variantLess(text("z"), text("\xc3\xa9"))); // bytes compare unsigned
    // All nulls and the empty string are index-equal.
    QVERIFY(!variantLess(QVariant(), text("")) && !variantLess(text(""), QVariant()));
    QVERIFY(!variantLess(QVariant(QMetaType::fromType<qlonglong>()), QVariant()));
}

QTEST_GUILESS_MAIN(TestTables)
#include "tst_tables.moc"
