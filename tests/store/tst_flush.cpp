// The write-behind flush: what reaches "database.db", from one thread or
// many, and what happens when the file is locked or the disk is full.

#include "database.h"
#include "database_p.h"
#include "storetest.h"
#include "tempstore.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

const QStringList usedTables = {QStringLiteral("options"), QStringLiteral("items"), QStringLiteral("skrin"),
                                QStringLiteral("skrin_text"), QStringLiteral("dirt_skrin")};

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
    case QMetaType::LongLong:
        return QVariant(qint64(random.generate64() >> 1) - (qint64(1) << 61));
    case QMetaType::Int:
        return QVariant(int(random.bounded(1000)));
    case QMetaType::Double:
        return QVariant(double(random.bounded(1.0e6)) - 5.0e5);
    case QMetaType::QDateTime:
        return QVariant(QDateTime(QDate(2020, 1, 1), QTime(0, 0)).addMSecs(qint64(random.bounded(1u << 30))));
    default: {
        QString text;
        const int length = int(random.bounded(40));
        for (int i = 0; i < length; ++i)
            text.append(QChar(char16_t(u' ' + random.bounded(90))));
        if (random.bounded(10) == 0)
            text.append(QStringLiteral("ł€`'\""));
        return text;
    }
    }
}

// Files stored during a run: name -> bytes, or a null array once removed.
using FileModel = QHash<QString, QByteArray>;

// One random step on the store; with `flushes`, about one step in a hundred
// asks for a flush.
void randomStep(QRandomGenerator &random, const QHash<QString, QHash<QString, int>> &types, FileModel *files,
                bool flushes = true)
{
    const QString tableName = usedTables.at(random.bounded(int(usedTables.size())));
    const int table = Database::tableId(tableName);
    const QStringList columns = Database::columnNames(table);
    const int choice = int(random.bounded(100));
    if (choice < 30) {
        Conditions values;
        for (int c = 0; c < columns.size(); ++c) {
            if (random.bounded(3))
                values.insert(c, randomValue(random, types[tableName].value(columns.at(c))));
        }
        Database::insertRow(table, values);
    } else if (choice < 65) {
        const RowCursor all = Database::allRows(table);
        if (all.rows.isEmpty())
            return;
        const int row = all.rows.at(random.bounded(int(all.rows.size())));
        const int column = int(random.bounded(int(columns.size())));
        Database::setValue(table, row, column, randomValue(random, types[tableName].value(columns.at(column))));
    } else if (choice < 80) {
        const RowCursor all = Database::allRows(table);
        if (!all.rows.isEmpty())
            Database::removeRow(table, all.rows.at(random.bounded(int(all.rows.size()))));
    } else if (choice < 90 && files) {
        QByteArray bytes(int(random.bounded(4096)) + 1, Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        const QString name = files->isEmpty() || random.bounded(2) ? Database::newFileName(QStringLiteral(".png"))
                                                                    : files->keys().at(random.bounded(int(files->size())));
        Database::setFileData(name, bytes);
        files->insert(name, bytes);
    } else if (choice < 98 && files && !files->isEmpty()) {
        const QString name = files->keys().at(random.bounded(int(files->size())));
        Database::removeFile(name);
        files->insert(name, QByteArray());
    } else if (choice == 98 && flushes) {
        Database::flush();
    } else if (choice == 99 && flushes) {
        Database::startSingleFlush();
    }
}

// After a reopen: the same tables, and every file as the model says.
void verifyFiles(const QString &folder, const FileModel &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = folder + QStringLiteral("/files/") + it.key();
        if (it->isNull())
            QVERIFY2(!QFile::exists(path), qPrintable(it.key()));
        else
            QCOMPARE(readFile(path), *it);
    }
}

class Writer : public QThread
{
public:
    Writer(quint32 seed, int steps)
        : seed(seed), steps(steps)
    {
    }
    void run() override
    {
        QRandomGenerator random(seed);
        const auto types = declaredTypes();
        for (int i = 0; i < steps; ++i)
            randomStep(random, types, nullptr);
    }

private:
    quint32 seed;
    int steps;
};

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

    void nothingPendingWritesNothing();
    void roundTrip_data();
    void roundTrip();
    void severalWriterThreads();
    void lockedDatabaseLosesNothing();
    void fullDiskLosesNothing();
    void closeWritesPendingWork();
    void quotedNames();
    void memoryOnlyTableDoesNotBlockOthers();
};

void TestFlush::nothingPendingWritesNothing()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    QVERIFY(Database::flush());
    Database::close();
    const QString path = store.path() + QStringLiteral("/database.db");
    const QByteArray before = readFile(path);
    QVERIFY(Database::open(store.path()));
    QVERIFY(Database::flush());
    QVERIFY(Database::flush());
    Database::close();
    QCOMPARE(readFile(path), before);
}

void TestFlush::roundTrip_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("periodic");
    QTest::newRow("seed 1, periodic flushes") << 1u << true;
    QTest::newRow("seed 2, only forced flushes") << 2u << false;
}

void TestFlush::roundTrip()
{
    QFETCH(quint32, seed);
    QFETCH(bool, periodic);
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(!periodic);
    QRandomGenerator random(seed);
    const auto types = declaredTypes();
    FileModel files;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 1000; ++i)
            randomStep(random, types, &files);
        const StoreDump expected = dumpStore();
        Database::close();
        QString error;
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
        store_internal::pausePeriodicFlush(!periodic);
        QCOMPARE(dumpStore(), expected);
        verifyFiles(store.path(), files);
    }
}

void TestFlush::severalWriterThreads()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    std::vector<std::unique_ptr<Writer>> writers;
    for (quint32 i = 0; i < 4; ++i)
        writers.push_back(std::make_unique<Writer>(100 + i, 1000));
    for (auto &writer : writers)
        writer->start();
    for (auto &writer : writers)
        QVERIFY(writer->wait(QDeadlineTimer(60000)));
    const StoreDump expected = dumpStore();
    Database::close();
    QVERIFY(Database::open(store.path()));
    QCOMPARE(dumpStore(), expected);
}

void TestFlush::lockedDatabaseLosesNothing()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    QRandomGenerator random(7);
    const auto types = declaredTypes();
    for (int i = 0; i < 300; ++i)
        randomStep(random, types, nullptr);
    QVERIFY(Database::flush());

    const QString path = store.path() + QStringLiteral("/database.db");
    {
        RawDb other(path, QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        for (int i = 0; i < 300; ++i)
            randomStep(random, types, nullptr, false);
        QVERIFY(!Database::flush());
        // The failed work waits for the next flush; more arrives meanwhile.
        for (int i = 0; i < 100; ++i)
            randomStep(random, types, nullptr, false);
        QVERIFY(!Database::flush());
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
    }
    QVERIFY(Database::flush());
    for (int i = 0; i < 100; ++i)
        randomStep(random, types, nullptr);
    const StoreDump expected = dumpStore();
    Database::close();
    QVERIFY(Database::open(store.path()));
    QCOMPARE(dumpStore(), expected);
}

void TestFlush::fullDiskLosesNothing()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const int skrin = Database::tableId(QStringLiteral("skrin"));
    const int desc = Database::columnId(skrin, QStringLiteral("desc"));
    for (int i = 0; i < 20; ++i)
        Database::insertRow(skrin, {{0, i}, {desc, QStringLiteral("first %1").arg(i)}});
    QVERIFY(Database::flush());

    QVariant pages;
    QVERIFY(store_internal::runOnWriter(QStringLiteral("PRAGMA page_count"), &pages));
    QVERIFY(store_internal::runOnWriter(QStringLiteral("PRAGMA max_page_count = %1").arg(pages.toLongLong())));
    for (int i = 20; i < 300; ++i)
        Database::insertRow(skrin, {{0, i}, {desc, QString(2000, QLatin1Char('a' + i % 26))}});
    Database::setValue(skrin, 1, desc, QStringLiteral("changed while full"));
    Database::removeRow(skrin, 2);
    QVERIFY(!Database::flush());
    QVERIFY(!Database::flush());

    QVERIFY(store_internal::runOnWriter(QStringLiteral("PRAGMA max_page_count = 1073741823")));
    QVERIFY(Database::flush());
    const StoreDump expected = dumpStore();
    QCOMPARE(expected.value(QStringLiteral("skrin")).size(), 299);
    Database::close();
    QVERIFY(Database::open(store.path()));
    QCOMPARE(dumpStore(), expected);
    RawDb db(store.path() + QStringLiteral("/database.db"));
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM skrin")), QStringLiteral("299"));
    QCOMPARE(db.value(QStringLiteral("SELECT count(DISTINCT id) FROM skrin")), QStringLiteral("299"));
}

void TestFlush::closeWritesPendingWork()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const int options = Database::tableId(QStringLiteral("options"));
    for (int i = 0; i < 50; ++i)
        Database::insertRow(options, {{0, QStringLiteral("n%1").arg(i)}, {1, i}});
    // One-off flushes still in the queue when close comes.
    for (int i = 0; i < 5; ++i)
        Database::startSingleFlush();
    Database::close();
    RawDb db(store.path() + QStringLiteral("/database.db"));
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM options")), QStringLiteral("50"));
}

void TestFlush::quotedNames()
{
    QCOMPARE(store_internal::quoteIdentifier(QStringLiteral("plain")), QStringLiteral("`plain`"));
    QCOMPARE(store_internal::quoteIdentifier(QStringLiteral("a`b")), QStringLiteral("`a``b`"));

    // A table whose name needs the quoting, written through the flush.
    TempStore store;
    QVERIFY(Database::open(store.path()));
    QVERIFY(store_internal::runOnWriter(QStringLiteral("CREATE TABLE `we``ird` (`co``l` TEXT)")));
    const int table = Database::addTable(QStringLiteral("we`ird"), {QStringLiteral("co`l")});
    const int row = Database::insertRow(table, {{0, QStringLiteral("one")}});
    QVERIFY(Database::flush());
    QVERIFY(Database::setValue(table, row, 0, QStringLiteral("two")));
    QVERIFY(Database::flush());
    QVariant value;
    QVERIFY(store_internal::runOnWriter(QStringLiteral("SELECT `co``l` FROM `we``ird`"), &value));
    QCOMPARE(value.toString(), QStringLiteral("two"));
    QVERIFY(Database::removeRow(table, row));
    QVERIFY(Database::flush());
    QVERIFY(store_internal::runOnWriter(QStringLiteral("SELECT count(*) FROM `we``ird`"), &value));
    QCOMPARE(value.toInt(), 0);
}

void TestFlush::memoryOnlyTableDoesNotBlockOthers()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const int scratch = Database::addTable(QStringLiteral("scratch"), {QStringLiteral("a")});
    Database::insertRow(scratch, {{0, QStringLiteral("in memory")}});
    const int options = Database::tableId(QStringLiteral("options"));
    Database::insertRow(options, {{0, QStringLiteral("k")}, {1, QStringLiteral("v")}});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("scratch is not in the database file")));
    QVERIFY(Database::flush());
    QCOMPARE(Database::rowCount(scratch), 1);
    Database::close();
    RawDb db(store.path() + QStringLiteral("/database.db"));
    QCOMPARE(db.value(QStringLiteral("SELECT value FROM options WHERE name = 'k'")), QStringLiteral("v"));
}

QTEST_GUILESS_MAIN(TestFlush)
#include "tst_flush.moc"
