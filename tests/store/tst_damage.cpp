// A data folder changed behind the store's back: somebody else's triggers,
// indexes, constraints and column types in "database.db", rows gone from the
// file, files that no row names.

#include "storetest.h"

#include <QDir>
#include <QRegularExpression>

namespace {

// Makes the declared file, then changes it: the CREATE text of `table` with
// `from` replaced by `to` (the table rebuilt by hand), then `statements`.
void damageFile(const QString &folder, const QString &table, const QString &from, const QString &to,
                const QStringList &statements)
{
    QVERIFY(Database::open(folder));
    QVERIFY(Database::close());
    RawDb db(databaseFile(folder));
    if (!table.isEmpty()) {
        QString create = db.text(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = '%1'").arg(table));
        QVERIFY2(create.contains(from), qPrintable(create));
        create.replace(from, to);
        QVERIFY(db.exec(QStringLiteral("DROP TABLE %1").arg(table)));
        QVERIFY2(db.exec(create), qPrintable(db.lastError));
    }
    for (const QString &sql : statements)
        QVERIFY2(db.exec(sql), qPrintable(db.lastError));
}

int column(int table, const char *name)
{
    return Database::columnId(table, QString::fromLatin1(name));
}

} // namespace

class TestDamage : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Database::close(); }

    void foreignDefinitionsAreReplaced_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("statements");
        const QString none;
        QTest::newRow("trigger that fails inserts")
            << none << none << none
            << QStringList{"CREATE TRIGGER no BEFORE INSERT ON skrin BEGIN SELECT RAISE(ABORT, 'no'); END"};
        QTest::newRow("trigger that empties other tables")
            << none << none << none
            << QStringList{"CREATE TRIGGER wipe AFTER INSERT ON skrin BEGIN DELETE FROM options; "
                           "DELETE FROM items; END"};
        QTest::newRow("unique index") << none << none << none
                                      << QStringList{"CREATE UNIQUE INDEX one_handle ON skrin (handle)"};
        QTest::newRow("unique column") << "skrin" << "`handle` VARCHAR(255)" << "`handle` VARCHAR(255) UNIQUE"
                                       << QStringList();
        QTest::newRow("check constraint") << "options" << "`value` TEXT" << "`value` TEXT CHECK (value <> 'v')"
                                          << QStringList();
        QTest::newRow("rowid alias") << "skrin" << "`id` BIGINT(32)" << "`id` INTEGER PRIMARY KEY"
                                     << QStringList();
        QTest::newRow("integer text column") << "skrin_text" << "`data` TEXT" << "`data` INTEGER" << QStringList();
    }

    // Whatever the file held, every change reaches it as made in memory.
    void foreignDefinitionsAreReplaced()
    {
        QFETCH(QString, table);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QStringList, statements);
        TempStore store;
        damageFile(store.path(), table, from, to, statements);
        QString error;
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));

        const int skrin = Database::tableId("skrin");
        const int text = Database::tableId("skrin_text");
        const int options = Database::tableId("options");
        const int row = Database::insertRow(skrin, {{column(skrin, "id"), 5}, {column(skrin, "handle"), "h"}});
        Database::insertRow(options, {{0, "k"}, {1, "v"}});
        QVERIFY(Database::flush());
        // A translated id, then a later change of the same row.
        QVERIFY(Database::setValue(skrin, row, column(skrin, "id"), 9000));
        QVERIFY(Database::flush());
        QVERIFY(Database::setValue(skrin, row, column(skrin, "title"), "later"));
        Database::insertRow(skrin, {{column(skrin, "id"), 6}, {column(skrin, "handle"), "h"}});
        for (const char *data : {"007", "1e3", "12.50"})
            Database::insertRow(text, {{column(text, "id"), 1}, {column(text, "data"), data}});
        Database::insertRow(Database::tableId("items"), {{0, 9000}, {1, "skrin"}});
        QVERIFY(Database::flush());

        const auto expected = dumpStore();
        QVERIFY(Database::close());
        QVERIFY(Database::open(store.path()));
        QCOMPARE(dumpStore(), expected);
        QStringList texts;
        for (RowCursor rows = Database::allRows(text); rows.next();)
            texts.append(Database::value(rows, column(text, "data")).toString());
        texts.sort();
        QCOMPARE(texts, QStringList({"007", "12.50", "1e3"}));
        RawDb db(databaseFile(store.path()));
        QCOMPARE(db.text("SELECT count(*) FROM sqlite_master WHERE type IN ('trigger', 'index')"), "0");
    }

    // A statement that still fails holds back its own table only, is
    // reported, and its work is written once it can be.
    void failingTableHoldsBackOnlyItself()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        store_internal::pausePeriodicFlush(true);
        QVERIFY(store_internal::runOnWriter(
            "CREATE TRIGGER no BEFORE INSERT ON skrin BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        Database::insertRow(Database::tableId("skrin"), {{0, 1}});
        Database::insertRow(Database::tableId("options"), {{0, "k"}, {1, "v"}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("changes of skrin.*refused"));
        QVERIFY(!Database::flush());
        QVariant count;
        QVERIFY(store_internal::runOnWriter("SELECT count(*) FROM options", &count));
        QCOMPARE(count.toInt(), 1);
        QVERIFY(store_internal::runOnWriter("DROP TRIGGER no"));
        QVERIFY(Database::flush());
        QVERIFY(store_internal::runOnWriter("SELECT count(*) FROM skrin", &count));
        QCOMPARE(count.toInt(), 1);
        store_internal::pausePeriodicFlush(false);
    }

    // Rows taken out of the file behind the store's back: a change of one
    // writes it again whole, and a removal finds nothing to remove.
    void fileThatDriftedIsMended()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        store_internal::pausePeriodicFlush(true);
        const int options = Database::tableId("options");
        const int kept = Database::insertRow(options, {{0, "kept"}, {1, "1"}});
        const int gone = Database::insertRow(options, {{0, "gone"}, {1, "1"}});
        QVERIFY(Database::flush());
        QVERIFY(store_internal::runOnWriter("DELETE FROM options"));
        QVERIFY(Database::setValue(options, kept, 1, "2"));
        QVERIFY(Database::removeRow(options, gone));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("options in the file had lost 1 changed and 1 removed"));
        QVERIFY(Database::flush());
        QVERIFY(Database::setValue(options, kept, 1, "3"));
        QVERIFY(Database::close());
        QCOMPARE(RawDb(databaseFile(store.path())).text("SELECT * FROM options"), QStringLiteral("kept|3"));
        store_internal::pausePeriodicFlush(false);
    }

    // Files left by a crash (written for rows that never committed, removed
    // rows whose files stayed, a half-written temporary) go after open;
    // files that rows name stay.
    void orphanedFilesAreRemoved()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        const int skrin = Database::tableId("skrin");
        const int tooBig = Database::tableId("too_big_files");
        const QString image = Database::storeNewFile("image", ".png");
        const QString thumb = Database::storeNewFile("thumb", ".png");
        const QString big = Database::storeNewFile("big");
        Database::insertRow(skrin, {{0, 1}, {column(skrin, "file"), image}, {column(skrin, "thumbnail64_file"), thumb}});
        Database::insertRow(tooBig, {{column(tooBig, "file"), big}});
        QVERIFY(Database::close());
        const QString files = store.path() + QStringLiteral("/files/");
        for (const char *orphan : {"abcdefgh.png", "abcdefgh.png.Xy12Zq", "title"})
            QVERIFY(writeFile(files + QLatin1String(orphan), "orphan"));

        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::flush()); // after the clearing, which runs first
        QStringList expected{image, thumb, big};
        expected.sort();
        QCOMPARE(QDir(files).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        QCOMPARE(Database::fileData(image), QByteArray("image"));
    }
};

QTEST_GUILESS_MAIN(TestDamage)
#include "tst_damage.moc"
