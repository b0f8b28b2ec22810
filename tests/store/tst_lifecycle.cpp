// Opening, migrating, loading, closing and resetting the store.

#include "database.h"
#include "database_p.h"
#include "storetest.h"
#include "tempstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

namespace {

QString dbPath(const TempStore &store)
{
    return QDir(store.path()).absoluteFilePath(QStringLiteral("database.db"));
}

// A data folder whose "database.db" was made by hand.
void buildFile(const TempStore &store, const QStringList &statements)
{
    RawDb db(dbPath(store));
    QVERIFY2(db.execAll(statements), qPrintable(db.lastError));
}

QString columnType(RawDb &db, const QString &table, const QString &column)
{
    return db.value(QStringLiteral("SELECT type FROM pragma_table_info('%1') WHERE name = '%2'").arg(table, column));
}

bool pendingWorkEmpty()
{
    QMutexLocker locker(&store_internal::tableMutex);
    for (const Table &t : std::as_const(store_internal::tables)) {
        if (!t.insertedRows.isEmpty() || !t.dirtyCells.isEmpty() || !t.removedRows.isEmpty())
            return false;
    }
    return true;
}

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Database::close(); }

    void newFolder();
    void undeclaredTablesAreDropped();
    void missingTableIsCreated();
    void extraOrMissingColumnRebuilds();
    void changedStampRebuildsKeepingValues();
    void currentStampKeepsDeclaredNames();
    void emptyStampTableCountsAsCurrent();
    void columnsInAnotherOrder();
    void failedMigrationLeavesFileUnchanged();
    void loadedRowsAreClean();

    void unusableFileFailsOpen_data();
    void unusableFileFailsOpen();
    void folderNamedLikeTheDatabase();

    void closeIsIdempotent();
    void reopenSameFolder();
    void resetEmptiesStoreAndKeepsLinkTargets();
    void removeDirRecursiveLeavesLinkTargets();
    void fileExtension();
};

void TestLifecycle::newFolder()
{
    TempStore store;
    const QString folder = store.path() + QStringLiteral("/a/b");
    QString error;
    QVERIFY2(Database::open(folder, &error), qPrintable(error));
    QVERIFY(Database::isOpen());
    QVERIFY(QFileInfo(folder + QStringLiteral("/files")).isDir());
    QCOMPARE(Database::dataFolder(), QDir(folder).absolutePath());
    QCOMPARE(Database::tableCount(), 25);
    const int options = Database::tableId(QStringLiteral("options"));
    QVERIFY(options >= 0);
    QVERIFY(Database::isEmpty(options));
    QVERIFY(Database::hasColumnIndex(options, Database::columnId(options, QStringLiteral("name"))));
    Database::close();
    QVERIFY(!Database::isOpen());

    RawDb db(folder + QStringLiteral("/database.db"));
    QCOMPARE(db.tables().size(), 25);
    QCOMPARE(db.rows(QStringLiteral("SELECT * FROM database_stamp")), QList<QStringList>{{QStringLiteral("0.0.1")}});
    // Flags are created from the parsed fields, as INT(32).
    QCOMPARE(columnType(db, QStringLiteral("skrin"), QStringLiteral("published")), QStringLiteral("INT(32)"));
}

void TestLifecycle::undeclaredTablesAreDropped()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE old_stuff (a TEXT)"), QStringLiteral("INSERT INTO old_stuff VALUES ('x')"),
                      QStringLiteral("CREATE TABLE skrin_new_temporary (id BIGINT(32))"),
                      QStringLiteral("CREATE TABLE `odd``name` (a TEXT)"),
                      QStringLiteral("CREATE TABLE t_auto (id INTEGER PRIMARY KEY AUTOINCREMENT)"),
                      QStringLiteral("INSERT INTO t_auto DEFAULT VALUES")});
    QVERIFY(Database::open(store.path()));
    QCOMPARE(Database::tableId(QStringLiteral("old_stuff")), -1);
    QCOMPARE(Database::tableId(QStringLiteral("skrin_new_temporary")), -1);
    QCOMPARE(Database::tableId(QStringLiteral("sqlite_sequence")), -1);
    QCOMPARE(Database::tableCount(), 25);
    Database::close();

    RawDb db(dbPath(store));
    const QStringList tables = db.tables();
    QVERIFY(!tables.contains(QStringLiteral("old_stuff")));
    QVERIFY(!tables.contains(QStringLiteral("odd`name")));
    QVERIFY(!tables.contains(QStringLiteral("skrin_new_temporary")));
}

void TestLifecycle::missingTableIsCreated()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.1')"),
                      QStringLiteral("CREATE TABLE options (name VARCHAR(255), value TEXT)"),
                      QStringLiteral("INSERT INTO options VALUES ('k', 'v')")});
    QVERIFY(Database::open(store.path()));
    QCOMPARE(Database::tableCount(), 25);
    const int options = Database::tableId(QStringLiteral("options"));
    QCOMPARE(Database::rowCount(options), 1);
    QVERIFY(Database::isEmpty(Database::tableId(QStringLiteral("skrin"))));
    Database::close();

    RawDb db(dbPath(store));
    QCOMPARE(db.rows(QStringLiteral("SELECT * FROM database_stamp")), QList<QStringList>{{QStringLiteral("0.0.1")}});
}

void TestLifecycle::extraOrMissingColumnRebuilds()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.1')"),
                      QStringLiteral("CREATE TABLE options (name VARCHAR(255), value TEXT, extra TEXT)"),
                      QStringLiteral("INSERT INTO options VALUES ('k', 'v', 'gone')"),
                      QStringLiteral("CREATE TABLE items (id BIGINT(32), type VARCHAR(255))"),
                      QStringLiteral("INSERT INTO items VALUES (7, 'skrin')")});
    QVERIFY(Database::open(store.path()));
    const int options = Database::tableId(QStringLiteral("options"));
    QCOMPARE(Database::columnNames(options), (QStringList{QStringLiteral("name"), QStringLiteral("value")}));
    QCOMPARE(Database::rowValues(options, 1).at(1).toString(), QStringLiteral("v"));
    const int items = Database::tableId(QStringLiteral("items"));
    QCOMPARE(Database::columnNames(items).size(), 3);
    QCOMPARE(Database::value(items, 1, Database::columnId(items, QStringLiteral("id"))).toLongLong(), 7);
    QVERIFY(isNullValue(Database::value(items, 1, Database::columnId(items, QStringLiteral("owner")))));
    Database::close();

    RawDb db(dbPath(store));
    QVERIFY(!db.tables().contains(QStringLiteral("options_new_temporary")));
    QCOMPARE(db.rows(QStringLiteral("SELECT * FROM items")),
             (QList<QStringList>{{QStringLiteral("7"), QStringLiteral("skrin"), QStringLiteral("NULL")}}));
}

void TestLifecycle::changedStampRebuildsKeepingValues()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.0')"),
                      QStringLiteral("CREATE TABLE options (name TEXT, value TEXT)"),
                      QStringLiteral("INSERT INTO options VALUES ('k1', 'v1')"),
                      QStringLiteral("INSERT INTO options VALUES ('k2', NULL)")});
    QVERIFY(Database::open(store.path()));
    const int options = Database::tableId(QStringLiteral("options"));
    QCOMPARE(Database::rowCount(options), 2);
    QCOMPARE(Database::findRow(options, Database::columnId(options, QStringLiteral("name")), QStringLiteral("k1")), 1);
    Database::close();

    RawDb db(dbPath(store));
    QCOMPARE(columnType(db, QStringLiteral("options"), QStringLiteral("name")), QStringLiteral("VARCHAR(255)"));
    QCOMPARE(db.rows(QStringLiteral("SELECT * FROM database_stamp")), QList<QStringList>{{QStringLiteral("0.0.1")}});
    QCOMPARE(db.rows(QStringLiteral("SELECT name, value FROM options ORDER BY name")),
             (QList<QStringList>{{QStringLiteral("k1"), QStringLiteral("v1")}, {QStringLiteral("k2"), QStringLiteral("NULL")}}));
}

void TestLifecycle::currentStampKeepsDeclaredNames()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.1')"),
                      QStringLiteral("CREATE TABLE options (name TEXT, value TEXT)")});
    QVERIFY(Database::open(store.path()));
    Database::close();
    RawDb db(dbPath(store));
    QCOMPARE(columnType(db, QStringLiteral("options"), QStringLiteral("name")), QStringLiteral("TEXT"));
}

void TestLifecycle::emptyStampTableCountsAsCurrent()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("CREATE TABLE options (name TEXT, value TEXT)")});
    QVERIFY(Database::open(store.path()));
    Database::close();
    RawDb db(dbPath(store));
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM database_stamp")), QStringLiteral("0"));
    QCOMPARE(columnType(db, QStringLiteral("options"), QStringLiteral("name")), QStringLiteral("TEXT"));
}

void TestLifecycle::columnsInAnotherOrder()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.1')"),
                      QStringLiteral("CREATE TABLE options (value TEXT, name VARCHAR(255))"),
                      QStringLiteral("INSERT INTO options VALUES ('v', 'k')")});
    QVERIFY(Database::open(store.path()));
    const int options = Database::tableId(QStringLiteral("options"));
    QCOMPARE(Database::columnId(options, QStringLiteral("value")), 0);
    QCOMPARE(Database::columnId(options, QStringLiteral("name")), 1);
    QCOMPARE(Database::value(options, 1, 1).toString(), QStringLiteral("k"));

    // Written back by column name, whatever the order.
    QVERIFY(Database::setValue(options, 1, 0, QStringLiteral("v2")));
    const int row = Database::insertRow(options, {{1, QStringLiteral("k3")}, {0, QStringLiteral("v3")}});
    QVERIFY(row > 0);
    QVERIFY(Database::flush());
    Database::close();
    RawDb db(dbPath(store));
    QCOMPARE(db.rows(QStringLiteral("SELECT name, value FROM options ORDER BY name")),
             (QList<QStringList>{{QStringLiteral("k"), QStringLiteral("v2")}, {QStringLiteral("k3"), QStringLiteral("v3")}}));
}

void TestLifecycle::failedMigrationLeavesFileUnchanged()
{
    // The view breaks the rename of the rebuilt table once "gone" is dropped:
    // a late step fails after earlier ones succeeded.
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.1')"),
                      QStringLiteral("CREATE TABLE gone (a TEXT)"), QStringLiteral("CREATE VIEW v AS SELECT * FROM gone"),
                      QStringLiteral("CREATE TABLE options (name VARCHAR(255), value TEXT, extra TEXT)"),
                      QStringLiteral("INSERT INTO options VALUES ('k', 'v', 'x')")});
    const QByteArray before = readFile(dbPath(store));
    QString error;
    QVERIFY(!Database::open(store.path(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!Database::isOpen());
    QVERIFY(!Database::flush());
    QCOMPARE(readFile(dbPath(store)), before);
    QVERIFY(!QFile::exists(dbPath(store) + QStringLiteral("-journal")));
}

void TestLifecycle::loadedRowsAreClean()
{
    TempStore store;
    buildFile(store, {QStringLiteral("CREATE TABLE database_stamp (stamp VARCHAR(255))"),
                      QStringLiteral("INSERT INTO database_stamp VALUES ('0.0.1')"),
                      QStringLiteral("CREATE TABLE options (name VARCHAR(255), value TEXT)"),
                      QStringLiteral("INSERT INTO options VALUES ('a', '1')"),
                      QStringLiteral("INSERT INTO options VALUES ('b', '2')"),
                      QStringLiteral("INSERT INTO options VALUES ('c', '3')")});
    QVERIFY(Database::open(store.path()));
    QVERIFY(pendingWorkEmpty());
    const int options = Database::tableId(QStringLiteral("options"));
    RowCursor all = Database::allRows(options);
    QCOMPARE(all.rows, (QList<int>{1, 2, 3}));
    QCOMPARE(Database::newRow(options), 4);
    QVERIFY(Database::removeRow(options, 4));
    QVERIFY(Database::setValue(options, 2, 1, QStringLiteral("changed")));
    QVERIFY(Database::flush());
    QVERIFY(pendingWorkEmpty());
    Database::close();

    RawDb db(dbPath(store));
    QCOMPARE(db.rows(QStringLiteral("SELECT name, value FROM options ORDER BY rowid")),
             (QList<QStringList>{{QStringLiteral("a"), QStringLiteral("1")},
                                 {QStringLiteral("b"), QStringLiteral("changed")},
                                 {QStringLiteral("c"), QStringLiteral("3")}}));
}

void TestLifecycle::unusableFileFailsOpen_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("random bytes") << 0;
    QTest::newRow("truncated copy") << 1;
    QTest::newRow("text file") << 2;
}

void TestLifecycle::unusableFileFailsOpen()
{
    QFETCH(int, kind);
    TempStore store;
    QByteArray bytes;
    if (kind == 0) {
        bytes.resize(64 * 1024);
        QRandomGenerator generator(42);
        for (char &c : bytes)
            c = char(generator.bounded(256));
    } else if (kind == 1) {
        TempStore source;
        QVERIFY(Database::open(source.path()));
        const int skrin = Database::tableId(QStringLiteral("skrin"));
        for (int i = 0; i < 500; ++i)
            Database::insertRow(skrin, {{0, i}, {4, QString(200, QLatin1Char('x'))}});
        QVERIFY(Database::flush());
        Database::close();
        const QByteArray whole = readFile(dbPath(source));
        bytes = whole.left(whole.size() / 2);
    } else {
        bytes = "hello, this is not a database\n";
    }
    {
        QFile file(dbPath(store));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QString error;
    QVERIFY(!Database::open(store.path(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!Database::isOpen());
    QVERIFY(!Database::flush());
    QCOMPARE(readFile(dbPath(store)), bytes);
    // No folder is bound after a failed open: nothing can delete the file now.
    QCOMPARE(Database::dataFolder(), QString());
    Database::deleteDatabaseFiles();
    QVERIFY(!Database::reset());
    QCOMPARE(readFile(dbPath(store)), bytes);
    // Nor does the file store fall back to the current folder.
    QCOMPARE(Database::filePath(QStringLiteral("name")), QString());
    QVERIFY(!Database::fileExists(QStringLiteral("tst_lifecycle.cpp")));
}

void TestLifecycle::folderNamedLikeTheDatabase()
{
    TempStore store;
    QVERIFY(QDir(store.path()).mkdir(QStringLiteral("database.db")));
    QVERIFY(QFile::copy(QFINDTESTDATA("tst_lifecycle.cpp"), dbPath(store) + QStringLiteral("/inside")));
    QString error;
    QVERIFY(!Database::open(store.path(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!Database::isOpen());
    QVERIFY(QFileInfo(dbPath(store)).isDir());
    QVERIFY(QFile::exists(dbPath(store) + QStringLiteral("/inside")));
}

void TestLifecycle::closeIsIdempotent()
{
    Database::close();
    Database::close();
    TempStore store;
    QVERIFY(Database::open(store.path()));
    // Right after open, before the writer has flushed even once.
    Database::close();
    Database::close();
    QVERIFY(!Database::isOpen());
    QVERIFY(!Database::flush());
    Database::startSingleFlush();
}

void TestLifecycle::reopenSameFolder()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const int options = Database::tableId(QStringLiteral("options"));
    Database::insertRow(options, {{0, QStringLiteral("k")}, {1, QStringLiteral("v")}});
    // Open on the open folder closes first, which writes what is pending.
    QVERIFY(Database::open(store.path()));
    QCOMPARE(Database::rowCount(Database::tableId(QStringLiteral("options"))), 1);
}

void TestLifecycle::resetEmptiesStoreAndKeepsLinkTargets()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const int options = Database::tableId(QStringLiteral("options"));
    Database::insertRow(options, {{0, QStringLiteral("k")}, {1, QStringLiteral("v")}});
    const QString reserved = Database::newFileName(QStringLiteral(".png"));
    const QString stored = Database::storeNewFile("bytes");
    QVERIFY(Database::flush());

    // A link to a folder outside, and a link to a file outside, inside "files".
    const QString outside = store.path() + QStringLiteral("/outside");
    QVERIFY(QDir().mkpath(outside + QStringLiteral("/sub")));
    QFile keep(outside + QStringLiteral("/sub/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("keep");
    keep.close();
    const QString files = store.path() + QStringLiteral("/files");
    QVERIFY(QFile::link(outside, files + QStringLiteral("/dirlink")));
    QVERIFY(QFile::link(keep.fileName(), files + QStringLiteral("/filelink")));
    QVERIFY(QDir().mkpath(files + QStringLiteral("/nested/deeper")));

    QString error;
    QVERIFY2(Database::reset(&error), qPrintable(error));
    QVERIFY(Database::isOpen());
    QCOMPARE(readFile(keep.fileName()), QByteArray("keep"));
    QVERIFY(QFileInfo(files).isDir());
    QVERIFY(QDir(files).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    QVERIFY(Database::isEmpty(Database::tableId(QStringLiteral("options"))));
    QVERIFY(Database::fileData(stored).isEmpty());
    {
        QMutexLocker locker(&store_internal::fileMutex);
        QVERIFY(store_internal::reservedNames.contains(reserved));
    }
    Database::close();
    RawDb db(dbPath(store));
    QCOMPARE(db.rows(QStringLiteral("SELECT * FROM database_stamp")), QList<QStringList>{{QStringLiteral("0.0.1")}});
}

void TestLifecycle::removeDirRecursiveLeavesLinkTargets()
{
    TempStore store;
    const QString target = store.path() + QStringLiteral("/target");
    QVERIFY(QDir().mkpath(target));
    QFile keep(target + QStringLiteral("/keep"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.close();
    const QString link = store.path() + QStringLiteral("/link");
    QVERIFY(QFile::link(target, link));

    // The root itself a link: the link goes, the folder stays whole.
    Database::removeDirRecursive(link);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(QFile::exists(keep.fileName()));

    Database::removeDirRecursive(target);
    QVERIFY(!QFileInfo::exists(target));
    Database::removeDirRecursive(store.path() + QStringLiteral("/missing"));
}

void TestLifecycle::fileExtension()
{
    QCOMPARE(Database::fileExtension(QStringLiteral("abc")), QString());
    QCOMPARE(Database::fileExtension(QStringLiteral("a.b.png")), QStringLiteral(".png"));
    QCOMPARE(Database::fileExtension(QStringLiteral("dir.x/name")), QStringLiteral(".x/name"));
    QCOMPARE(Database::fileExtension(QStringLiteral("name.")), QStringLiteral("."));
    QCOMPARE(Database::databaseFileName(), QStringLiteral("database.db"));
}

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
