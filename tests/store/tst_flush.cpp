// The write-behind flush: what reaches "database.db", from one thread or
// many, and what happens when the file is locked or the disk is full.

#include "storetest.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QThread>

#include <ctime>
#include <limits>
#include <memory>

namespace {

// Declared type of every column, by table and column name.
QHash<QString, QHash<QString, int>> declaredTypes()
{
    QHash<QString, QHash<QString, int>> types;
    for (const auto &table : Database::schema()) {
        for (const QSqlField &field : table.second)
            types[table.first].insert(field.name(), field.metaType().id());
    }
    return types;
}

// A value that SQLite gives back as it was given, for a column of this type;
// now and then a null.
QVariant randomValue(QRandomGenerator &random, int type)
{
    if (random.bounded(8) == 0)
        return random.bounded(2) ? QVariant() : QVariant(QString());
    switch (type) {
    case QMetaType::LongLong: return QVariant(qint64(random.generate64() >> 1) - (qint64(1) << 61));
    case QMetaType::Int: return QVariant(int(random.bounded(1000)));
    case QMetaType::Double: return QVariant(double(random.bounded(1.0e6)) - 5.0e5);
    case QMetaType::QDateTime:
        return QVariant(QDateTime(QDate(2020, 1, 1), QTime(0, 0)).addMSecs(qint64(random.bounded(1u << 30))));
    default:
        QString text;
        const int length = int(random.bounded(40));
        for (int i = 0; i < length; ++i)
            text.append(QChar(char16_t(u' ' + random.bounded(90))));
        return random.bounded(10) == 0 ? text + QStringLiteral("ł€`'\"") : text;
    }
}

// A cell's value in full: bytes in hex, numbers to the last digit,
// date-times with their offset.
QString exactly(const QVariant &cell)
{
    if (isNullValue(cell))
        return QStringLiteral("NULL");
    switch (cell.typeId()) {
    case QMetaType::QByteArray:
        return QString::fromLatin1(cell.toByteArray().toHex());
    case QMetaType::QDateTime:
        return cell.toDateTime().toString(Qt::ISODateWithMs);
    default:
        return cell.toString();
    }
}

// Files stored during a run: name -> bytes, or a null array once removed.
using FileModel = QHash<QString, QByteArray>;

// One random step on the store: a row inserted, changed or removed, a file
// written or removed (with `files`), and now and then a flush (with `flushes`).
void randomStep(QRandomGenerator &random, FileModel *files = nullptr, bool flushes = true)
{
    static const auto types = declaredTypes();
    static const QStringList usedTables{"options", "items", "skrin", "skrin_text", "dirt_skrin"};
    const QString tableName = usedTables.at(random.bounded(int(usedTables.size())));
    const int table = Database::tableId(tableName);
    const QStringList columns = Database::columnNames(table);
    const QList<int> rows = Database::allRows(table).rows;
    const int row = rows.isEmpty() ? 0 : rows.at(random.bounded(int(rows.size())));
    const int choice = int(random.bounded(100));
    if (choice < 30) {
        Conditions values;
        for (int c = 0; c < columns.size(); ++c) {
            if (random.bounded(3))
                values.insert(c, randomValue(random, types[tableName].value(columns.at(c))));
        }
        Database::insertRow(table, values);
    } else if (choice < 65 && row) {
        const int column = int(random.bounded(int(columns.size())));
        Database::setValue(table, row, column, randomValue(random, types[tableName].value(columns.at(column))));
    } else if (choice >= 65 && choice < 80 && row) {
        Database::removeRow(table, row);
    } else if (choice >= 80 && choice < 90 && files) {
        QByteArray bytes(int(random.bounded(4096)) + 1, Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        const QString name = files->isEmpty() || random.bounded(2) ? Database::newFileName(QStringLiteral(".png"))
                                                                    : files->keys().at(random.bounded(int(files->size())));
        Database::setFileData(name, bytes);
        files->insert(name, bytes);
    } else if (choice >= 90 && choice < 98 && files && !files->isEmpty()) {
        const QString name = files->keys().at(random.bounded(int(files->size())));
        Database::removeFile(name);
        files->insert(name, QByteArray());
    } else if (choice == 98 && flushes) {
        Database::flush();
    } else if (choice == 99 && flushes) {
        Database::startSingleFlush();
    }
}

// Closes the store, whose "files" folder must then hold every file as
// `files` says, and reopens it, which must then hold the same tables.
void reopenAndCompare(const QString &folder, const FileModel &files = FileModel())
{
    const auto expected = dumpStore();
    QVERIFY(Database::close());
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = folder + QStringLiteral("/files/") + it.key();
        if (it->isNull())
            QVERIFY2(!QFile::exists(path), qPrintable(it.key()));
        else
            QCOMPARE(readFile(path), *it);
    }
    QString error;
    QVERIFY2(Database::open(folder, &error), qPrintable(error));
    QCOMPARE(dumpStore(), expected);
}

} // namespace

class TestFlush : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        store_internal::pausePeriodicFlush(false);
        Database::close();
    }

    void roundTrip_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<bool>("periodic");
        QTest::addColumn<int>("threads");
        QTest::newRow("one writer, periodic flushes") << 1u << true << 1;
        QTest::newRow("one writer, only forced flushes") << 2u << false << 1;
        QTest::newRow("four writer threads") << 100u << true << 4;
    }

    // Random work, then close and reopen: the same tables and files. The
    // first writer alone works on files too.
    void roundTrip()
    {
        QFETCH(quint32, seed);
        QFETCH(bool, periodic);
        QFETCH(int, threads);
        TempStore store;
        QVERIFY(Database::open(store.path()));
        FileModel files;
        for (quint32 round = 0; round < 2; ++round) {
            store_internal::pausePeriodicFlush(!periodic);
            std::vector<std::unique_ptr<QThread>> writers;
            for (int w = 0; w < threads; ++w) {
                writers.emplace_back(QThread::create([&files, w, start = seed + 10 * round + quint32(w)] {
                    QRandomGenerator random(start);
                    for (int i = 0; i < 1000; ++i)
                        randomStep(random, w == 0 ? &files : nullptr);
                }));
                writers.back()->start();
            }
            for (auto &writer : writers)
                QVERIFY(writer->wait(QDeadlineTimer(60000)));
            reopenAndCompare(store.path(), files);
            // No row names these files, so the reopened store clears them away.
            files.clear();
        }
    }

    void failedFlushLosesNothing_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("database locked by another connection") << false;
        QTest::newRow("disk full") << true;
    }

    // While flushes fail, work piles up; once they succeed again nothing is
    // lost, and no two rows in memory have come to share one in the file.
    void failedFlushLosesNothing()
    {
        QFETCH(bool, diskFull);
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QRandomGenerator random(7);
        for (int i = 0; i < 300; ++i)
            randomStep(random);
        QVERIFY(Database::flush());
        {
            RawDb other(databaseFile(store.path()));
            QVariant pages;
            if (diskFull) {
                QVERIFY(store_internal::runOnWriter("PRAGMA page_count", &pages));
                QVERIFY(store_internal::runOnWriter(QStringLiteral("PRAGMA max_page_count = %1").arg(pages.toInt())));
            } else {
                QVERIFY(other.exec("BEGIN EXCLUSIVE"));
            }
            const int skrin = Database::tableId("skrin");
            const int desc = Database::columnId(skrin, "desc");
            for (int i = 0; i < 300; ++i) {
                randomStep(random, nullptr, false);
                Database::insertRow(skrin, {{0, i}, {desc, QString(2000, QLatin1Char('a' + i % 26))}});
            }
            QVERIFY(!Database::flush());
            // The failed work waits for the next flush; more arrives meanwhile.
            for (int i = 0; i < 100; ++i)
                randomStep(random, nullptr, false);
            QVERIFY(!Database::flush());
            QVERIFY(diskFull ? store_internal::runOnWriter("PRAGMA max_page_count = 1073741823")
                             : other.exec("ROLLBACK"));
        }
        QVERIFY(Database::flush());
        for (int i = 0; i < 100; ++i)
            randomStep(random);
        reopenAndCompare(store.path());
    }

    // A flush that runs while rows are being made takes each new row whole,
    // never a row whose later cells are still missing.
    void newRowsReachTheFileWhole()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        store_internal::pausePeriodicFlush(true);
        const int skrin = Database::tableId("skrin");
        const int last = int(Database::columnNames(skrin).size()) - 1;
        Conditions cells;
        for (int c = 0; c <= last; ++c)
            cells.insert(c, QStringLiteral("cell %1").arg(c));
        QAtomicInt stop;
        // Bounded: rows made faster than written would keep every flush busy.
        std::unique_ptr<QThread> maker(QThread::create([&] {
            for (int made = 0; made < 40000 && !stop.loadRelaxed(); ++made)
                Database::insertRow(skrin, cells);
        }));
        maker->start();
        RawDb db(databaseFile(store.path()));
        QString torn;
        for (int i = 0; i < 30 && torn.isEmpty(); ++i) {
            QVERIFY(Database::flush());
            torn = db.text(QStringLiteral("SELECT count(*) FROM skrin WHERE `%1` IS NULL HAVING count(*) > 0")
                               .arg(Database::columnName(skrin, last)));
        }
        stop.storeRelaxed(1);
        QVERIFY(maker->wait(QDeadlineTimer(60000)));
        QVERIFY2(torn.isEmpty(), qPrintable(torn + QStringLiteral(" torn rows")));
    }

    // The result of closing says whether the last changes reached the disk.
    void closeTellsWhetherAllWasWritten()
    {
        QVERIFY(Database::close()); // nothing open, nothing lost
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::flush());
        QVariant pages;
        QVERIFY(store_internal::runOnWriter("PRAGMA page_count", &pages));
        QVERIFY(store_internal::runOnWriter(QStringLiteral("PRAGMA max_page_count = %1").arg(pages.toInt())));
        Database::insertRow(Database::tableId("skrin"), {{0, 1}, {2, QString(8000, QLatin1Char('x'))}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not write the changes"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not be written before closing"));
        QVERIFY(!Database::close());
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
    }

    // Rows inserted together reach the file together: while one of their
    // tables cannot be written, neither row is committed.
    void rowsInsertedTogetherCommitTogether()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(store_internal::runOnWriter(
            "CREATE TRIGGER refuse BEFORE INSERT ON skrin_pen BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        const NewRow rows[] = {{Database::tableId("items"), {{0, 7}}}, {Database::tableId("skrin_pen"), {{0, 7}}}};
        QVERIFY(Database::insertRows(rows));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not write the changes"));
        QVERIFY(!Database::flush());
        const QString count = QStringLiteral("SELECT (SELECT count(*) FROM items) || (SELECT count(*) FROM skrin_pen)");
        QCOMPARE(RawDb(databaseFile(store.path())).text(count), QStringLiteral("00"));
        QVERIFY(store_internal::runOnWriter("DROP TRIGGER refuse"));
        QVERIFY(Database::flush());
        QCOMPARE(RawDb(databaseFile(store.path())).text(count), QStringLiteral("11"));
    }

    // Cells read the same after a reopen: text is kept exactly or refused,
    // and a cell never set matches "" before as after (it is NULL in the file).
    void valuesReadTheSameAfterReopen()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        const int skrin = Database::tableId("skrin");
        const int title = Database::columnId(skrin, "title");
        const int parent = Database::columnId(skrin, "parent");
        const QString lone = QStringLiteral("a") + QChar(0xd800) + QStringLiteral("xyz");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unpaired UTF-16 surrogate"));
        QCOMPARE(Database::insertRow(skrin, {{0, 1}, {title, lone}}), -1);
        const int row = Database::insertRow(skrin, {{0, 2}, {parent, 1}, {title, QStringLiteral("x\U0001F600\u00e9")}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unpaired UTF-16 surrogate"));
        QVERIFY(!Database::setValue(skrin, row, title, lone));
        Database::insertRow(skrin, {{0, 3}});
        const auto unset = [skrin, title, parent] {
            QList<qint64> ids;
            for (const Conditions &wanted : {Conditions{{title, ""}}, Conditions{{parent, ""}}}) {
                RowCursor cursor = Database::select(skrin, wanted);
                while (cursor.next())
                    ids.append(Database::value(cursor, 0).toLongLong());
            }
            return ids;
        };
        QCOMPARE(unset(), QList<qint64>({3, 3}));
        reopenAndCompare(store.path());
        QCOMPARE(unset(), QList<qint64>({3, 3}));
        QCOMPARE(Database::lookupValue(skrin, 0, 2, title).toString(), QStringLiteral("x\U0001F600\u00e9"));
    }

    // Every kind of value in every kind of column answers alike before a
    // reopen and after it: what the cell holds, which conditions it meets,
    // and that writing the value again changes nothing. Only writes that
    // change what the file holds count as changes.
    void valuesAnswerAlikeAcrossAReopen()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        const int skrin = Database::tableId("skrin");
        const QList<int> columns{Database::columnId(skrin, "password_length"), Database::columnId(skrin, "x"),
                                 Database::columnId(skrin, "title"), Database::columnId(skrin, "created")};
        const QDateTime when(QDate(2024, 5, 1), QTime(10, 0, 0, 250));
        const QVariantList values{
            QVariant(), QVariant(QString()), QString(""), QByteArray(""), QByteArray("b\0b", 3), 0, -5, true, false,
            std::numeric_limits<qint64>::max(), std::numeric_limits<quint64>::max(), 2.5, 3.0, -0.0,
            3.0000000000000004, 1e20, qQNaN(), qInf(), 5.5f, "5", " 5 ", "05", "5.0", "1e3", "-2.5e-3", "abc", "1-2",
            "0x10", "9223372036854775808", when, when.toUTC(), when.toOffsetFromUtc(19800),
            "2024-05-01T08:00:00.000Z", "2024-05-01T10:00:00+02:00", "2024-05-01T10:00:00", QDate(2024, 3, 1)};
        const QVariantList wanted{QVariant(), "", false, true, 0, 1, 5, "5", 2.5, "abc", when};
        QMap<std::pair<int, int>, QVariant> given; // (row, column) -> value
        for (const QVariant &value : values) {
            Conditions cells{{0, Database::rowCount(skrin) + 1}};
            for (const int column : columns)
                cells.insert(column, value);
            const int row = Database::insertRow(skrin, cells);
            for (const int column : columns)
                given.insert({row, column}, value);
        }
        const auto answers = [&] {
            QStringList lines;
            for (auto it = given.cbegin(); it != given.cend(); ++it) {
                const auto [row, column] = it.key();
                const QVariant cell = Database::value(skrin, row, column);
                QString line = QStringLiteral("%1 %2 <- %3: %4 %5 |").arg(Database::columnName(skrin, column)).arg(row)
                                   .arg(QDebug::toString(*it), cell.typeName(), exactly(cell));
                for (const QVariant &condition : wanted)
                    line += Database::rowMatches(skrin, row, {{column, condition}}) ? u'1' : u'0';
                if (Database::setValue(skrin, row, column, *it)) // writing it again is no change
                    line += QStringLiteral(" changed again");
                lines.append(line);
            }
            return lines;
        };
        const QStringList before = answers();
        reopenAndCompare(store.path());
        const QStringList after = answers();
        for (qsizetype i = 0; i < before.size(); ++i) {
            QCOMPARE(after.at(i), before.at(i));
            QVERIFY2(!before.at(i).endsWith(QLatin1String("changed again")), qPrintable(before.at(i)));
        }

        // A write is dropped only where it changes nothing in the file.
        const int title = columns.at(2), length = columns.at(0);
        const int row = Database::insertRow(skrin, {{0, 1000}, {title, "abc"}, {length, "abc"}});
        QVERIFY(Database::setValue(skrin, row, title, true));
        QCOMPARE(Database::value(skrin, row, title), QVariant("1"));
        QVERIFY(!Database::setValue(skrin, row, title, 1));
        QVERIFY(!Database::setValue(skrin, row, title, "1"));
        QVERIFY(Database::setValue(skrin, row, title, "01"));
        QVERIFY(Database::setValue(skrin, row, length, true));
        QVERIFY(!Database::setValue(skrin, row, length, "1"));
        QVERIFY(!Database::setValue(skrin, row, length, 1.0));
        QVERIFY(Database::setValue(skrin, row, length, QString()));
        QVERIFY(!Database::setValue(skrin, row, length, QByteArray()));
        QVERIFY(Database::setValue(skrin, row, length, "")); // set, where NULL is not
    }

    // A real in a text column reads as SQLite itself writes it there (as
    // another client, or a copy made in SQL, would find it): "5.0", "Inf",
    // 15 significant digits. Before a reopen and after it.
    void realsInTextColumnsReadAsSQLiteWritesThem()
    {
        const QVariantList reals{5.0, 2.5, -0.0, 0.1 + 0.2, 3.0000000000000004, 1e15, 1e16, 1e300, 1e-7, 5e-324,
                                 qInf(), -qInf(), 123456789.123456789, -1.5e-300};
        RawDb sqlite(QStringLiteral(":memory:"));
        QVERIFY(sqlite.exec("CREATE TABLE t (k INTEGER PRIMARY KEY, a TEXT)"));
        for (const QVariant &real : reals)
            QVERIFY2(sqlite.exec("INSERT INTO t (a) VALUES (?)", {real}), qPrintable(sqlite.lastError));
        const QString written = sqlite.text("SELECT a FROM t ORDER BY k");

        TempStore store;
        QVERIFY(Database::open(store.path()));
        const int skrin = Database::tableId("skrin");
        const int title = Database::columnId(skrin, "title");
        QList<int> rows;
        for (const QVariant &real : reals)
            rows.append(Database::insertRow(skrin, {{0, rows.size() + 1}, {title, real}}));
        const auto held = [&] {
            QStringList texts;
            for (const int row : std::as_const(rows))
                texts.append(Database::value(skrin, row, title).toString());
            return texts.join(u';');
        };
        QCOMPARE(held(), written);
        reopenAndCompare(store.path());
        QCOMPARE(held(), written);
        QVERIFY(!Database::setValue(skrin, rows.first(), title, QStringLiteral("5.0")));
    }

    // A date-time names one instant, whichever zone wrote it and whichever
    // reads it: the file holds UTC with its "Z", which SQLite's own date
    // functions read too. Written in Kolkata and read in New York, and in
    // New York's repeated hour when the clocks go back.
    void dateTimesKeepTheirInstantAcrossZones()
    {
        const QByteArray zoneBefore = qgetenv("TZ");
        const auto inZone = [](const char *zone) {
            qputenv("TZ", zone);
            tzset();
        };
        const auto restoreZone = qScopeGuard([&] {
            if (zoneBefore.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", zoneBefore);
            tzset();
        });
        TempStore store;
        const qint64 kolkata = QDateTime(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC).toMSecsSinceEpoch();
        // 1:30 in New York, first in summer time, then an hour later again.
        const qint64 repeated[] = {QDateTime(QDate(2024, 11, 3), QTime(5, 30), Qt::UTC).toMSecsSinceEpoch(),
                                   QDateTime(QDate(2024, 11, 3), QTime(6, 30), Qt::UTC).toMSecsSinceEpoch()};
        inZone("Asia/Kolkata");
        QVERIFY(Database::open(store.path()));
        const int skrin = Database::tableId("skrin");
        const int created = Database::columnId(skrin, "created");
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(kolkata).time(), QTime(13, 30));
        Database::insertRow(skrin, {{0, 1}, {created, QDateTime::fromMSecsSinceEpoch(kolkata)}});
        QVERIFY(Database::close());
        inZone("America/New_York");
        QVERIFY(Database::open(store.path()));
        for (const qint64 at : repeated) {
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(at);
            QCOMPARE(local.time(), QTime(1, 30));
            Database::insertRow(skrin, {{0, Database::rowCount(skrin) + 1}, {created, local}});
        }
        QVERIFY(Database::close());
        QVERIFY(Database::open(store.path()));
        const qint64 expected[] = {kolkata, repeated[0], repeated[1]};
        for (int id = 1; id <= 3; ++id)
            QCOMPARE(Database::lookupValue(skrin, 0, id, created).toDateTime().toMSecsSinceEpoch(), expected[id - 1]);
        QVERIFY(Database::close());
        RawDb db(databaseFile(store.path()));
        QCOMPARE(db.text("SELECT created, strftime('%s', created) * 1000 FROM skrin ORDER BY id"),
                 QStringLiteral("2024-05-01T08:00:00.000Z|%1;2024-11-03T05:30:00.000Z|%2;2024-11-03T06:30:00.000Z|%3")
                     .arg(kolkata)
                     .arg(repeated[0])
                     .arg(repeated[1]));
    }

    // A text without an offset, as older files hold, is local time as it
    // always was, and stays as it is until it is written anew.
    void offsetlessDateTimesStayLocal()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        {
            RawDb db(databaseFile(store.path()));
            QVERIFY(db.exec("INSERT INTO skrin (id, created) VALUES (1, '2024-05-01T13:30:00.000')"));
        }
        QVERIFY(Database::open(store.path()));
        const int skrin = Database::tableId("skrin");
        const int created = Database::columnId(skrin, "created");
        const QVariant cell = Database::lookupValue(skrin, 0, 1, created);
        QCOMPARE(cell, QVariant("2024-05-01T13:30:00.000"));
        const QDateTime local(QDate(2024, 5, 1), QTime(13, 30));
        QVERIFY(Database::findRow(skrin, {{created, local}}) > 0);
        QVERIFY(!Database::setValue(skrin, Database::findRow(skrin, 0, 1), created, cell));
        QVERIFY(Database::setValue(skrin, Database::findRow(skrin, 0, 1), created, local));
        QVERIFY(Database::close());
        QCOMPARE(RawDb(databaseFile(store.path())).text("SELECT created FROM skrin"),
                 local.toUTC().toString(Qt::ISODateWithMs));
    }

    // Tables added in memory beside the declared ones: one whose names need
    // quoting reaches the file, one the file lacks blocks nothing else.
    void tablesBesideTheDeclaredOnes()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(store_internal::runOnWriter("CREATE TABLE `we``ird` (`co``l` TEXT)"));
        const int weird = Database::addTable("we`ird", {"co`l"});
        const int scratch = Database::addTable("scratch", {"a"});
        Database::insertRow(weird, {{0, "one"}});
        Database::insertRow(weird, {{0, "two"}});
        Database::insertRow(scratch, {{0, "in memory"}});
        Database::insertRow(Database::tableId("options"), {{0, "k"}, {1, "v"}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("scratch is not in the database file"));
        QVERIFY(Database::flush());
        QVERIFY(Database::setValue(weird, 1, 0, "three"));
        QVERIFY(Database::removeRow(weird, 2));
        QVERIFY(Database::flush());
        QVariant value;
        QVERIFY(store_internal::runOnWriter("SELECT group_concat(`co``l`) FROM `we``ird`", &value));
        QCOMPARE(value.toString(), QStringLiteral("three"));
        QCOMPARE(Database::rowCount(scratch), 1);
        Database::close();
        QCOMPARE(RawDb(databaseFile(store.path())).text("SELECT * FROM options"), QStringLiteral("k|v"));
    }
};

QTEST_GUILESS_MAIN(TestFlush)
#include "tst_flush.moc"
