// Opening, migrating, loading, closing and resetting the store; and a data
// folder changed behind its back: somebody else's triggers, indexes,
// constraints and column types in "database.db", rows gone from the file,
// files that no row names.

#include "filesizelimit.h"
#include "storestatus.h"
#include "storetest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace {

const QString noFile = QStringLiteral("no file");

// Writes "database.db" by hand: a stamp table holding `stamp` (none when
// empty), then `statements`.
void buildFile(const QString &folder, const QString &stamp, const QStringList &statements)
{
    QVERIFY(QDir().mkpath(folder));
    RawDb db(databaseFile(folder));
    QStringList all{"CREATE TABLE database_stamp (stamp VARCHAR(255))"};
    if (!stamp.isEmpty())
        all.append(QStringLiteral("INSERT INTO database_stamp VALUES ('%1')").arg(stamp));
    for (const QString &sql : all + statements)
        QVERIFY2(db.exec(sql), qPrintable(db.lastError));
}

QString columnType(RawDb &db, const QString &table, const QString &column)
{
    return db.text(QStringLiteral("SELECT type FROM pragma_table_info('%1') WHERE name = '%2'").arg(table, column));
}

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

// A store holding the option "kept" whose file is then damaged where its
// tables still read well; `bytes` gets the damaged file.
void damagedWithOneOption(const QString &folder, QByteArray *bytes)
{
    QVERIFY(Database::open(folder));
    const int options = Database::tableId("options");
    QVERIFY(Database::insertRow(options, {{column(options, "name"), "kept"}}) > 0);
    QVERIFY(Database::close());
    QVERIFY(damageFreePageCount(databaseFile(folder)));
    *bytes = readFile(databaseFile(folder));
}

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Database::close(); }

    // Every case ends with the declared tables and nothing else in memory,
    // the same and the store's list of its files in the file, with these
    // rows of `options`, whose `name` column has the given type in the
    // file, and with the stamp table as given.
    void migration_data()
    {
        QTest::addColumn<QString>("stamp");
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("nameType");
        QTest::addColumn<QString>("stampAfter");
        const auto row = [](const char *name, const QString &stamp, const QStringList &statements,
                            const char *options, const char *nameType = "VARCHAR(255)", const char *after = "0.0.1") {
            QTest::newRow(name) << stamp << statements << options << nameType << after;
        };
        const auto options = [](const char *columns, const char *values) {
            return QStringList{QStringLiteral("CREATE TABLE options (%1)").arg(columns),
                               QStringLiteral("INSERT INTO options VALUES (%1)").arg(values)};
        };
        row("new folder", noFile, {}, "");
        row("undeclared tables", "0.0.1",
            {"CREATE TABLE old_stuff (a TEXT)", "INSERT INTO old_stuff VALUES ('x')",
             "CREATE TABLE skrin_new_temporary (id BIGINT(32))", "CREATE TABLE `odd``name` (a TEXT)",
             "CREATE TABLE t_auto (id INTEGER PRIMARY KEY AUTOINCREMENT)", "INSERT INTO t_auto DEFAULT VALUES"},
            "");
        row("missing tables", "0.0.1", options("name VARCHAR(255), value TEXT", "'k', 'v'"), "k|v");
        row("columns in another order", "0.0.1", options("value TEXT, name VARCHAR(255)", "'v', 'k'"), "v|k");
        row("extra column: rebuilt", "0.0.1", options("name VARCHAR(255), value TEXT, extra TEXT", "'k', 'v', 'x'"),
            "k|v");
        row("missing column: rebuilt", "0.0.1", options("name VARCHAR(255)", "'k'"), "k|NULL");
        row("changed stamp: rebuilt with the values", "0.0.0",
            options("name TEXT, value TEXT", "'k1', 'v1'") << "INSERT INTO options VALUES ('k2', NULL)",
            "k1|v1;k2|NULL");
        row("current stamp, another column type: rebuilt", "0.0.1", options("name TEXT, value TEXT", "'k', 'v'"),
            "k|v");
        row("empty stamp table counts as current", "", options("name VARCHAR(255), value TEXT", "'k', 'v'"), "k|v",
            "VARCHAR(255)", "");
        // SQLite names: "OPTIONS" is the table options, "NAME" its column name.
        row("table name in another letter case", "0.0.1",
            {"CREATE TABLE OPTIONS (name VARCHAR(255), value TEXT)", "INSERT INTO Options VALUES ('k', 'v')"}, "k|v");
        row("column names in another letter case", "0.0.1", options("NAME VARCHAR(255), Value TEXT", "'k', 'v'"),
            "k|v");
        row("views: one naming a gone table, one holding a table's name", "0.0.1",
            QStringList{"CREATE TABLE notes (a TEXT)", "CREATE VIEW v AS SELECT * FROM notes", "DROP TABLE notes",
                        "CREATE VIEW skrin_pen AS SELECT 1"}
                + options("name VARCHAR(255), value TEXT, extra TEXT", "'k', 'v', 'x'"),
            "k|v");
    }

    void migration()
    {
        QFETCH(QString, stamp);
        QFETCH(QStringList, statements);
        QFETCH(QString, options);
        QFETCH(QString, nameType);
        QFETCH(QString, stampAfter);
        TempStore store;
        const QString folder = store.path() + QStringLiteral("/a/b");
        if (stamp != noFile)
            buildFile(folder, stamp, statements);
        QString error;
        QVERIFY2(Database::open(folder, &error), qPrintable(error));
        QVERIFY(Database::isOpen());
        QVERIFY(QFileInfo(folder + QStringLiteral("/files")).isDir());
        QCOMPARE(Database::dataFolder(), QDir(folder).absolutePath());
        const auto dump = dumpStore();
        QStringList declared;
        for (const auto &table : Database::schema())
            declared.append(table.first);
        declared.sort();
        QCOMPARE(dump.keys(), declared);
        QCOMPARE(dump.value("options").join(QLatin1Char(';')), options);
        const int optionsTable = Database::tableId("options");
        QVERIFY(Database::hasColumnIndex(optionsTable, Database::columnId(optionsTable, "name")));
        const int skrin = Database::tableId("skrin");
        QVERIFY(Database::hasColumnIndex(skrin, Database::columnId(skrin, "thumbnail512_file")));
        // Written back by column name, whatever their order in the file.
        Database::insertRow(optionsTable, Database::columnIds(optionsTable, {{"name", "new"}, {"value", "w"}}));
        Database::close();
        QVERIFY(!Database::isOpen());

        RawDb db(databaseFile(folder));
        QStringList inFile = declared << QStringLiteral("store_files");
        inFile.sort();
        QCOMPARE(db.text("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' "
                         "ORDER BY name"),
                 inFile.join(QLatin1Char(';')));
        QCOMPARE(db.text("SELECT * FROM options WHERE name IS NOT 'new'"), options);
        QCOMPARE(db.text("SELECT name, value FROM options WHERE name = 'new'"), QStringLiteral("new|w"));
        QCOMPARE(columnType(db, "options", "name"), nameType);
        QCOMPARE(columnType(db, "skrin", "published"), QStringLiteral("INT(32)")); // flags as parsed
        QCOMPARE(db.text("SELECT * FROM database_stamp"), stampAfter);
        QCOMPARE(db.text("SELECT count(*) FROM sqlite_master WHERE type <> 'table'"), QStringLiteral("0"));
    }

    // A rebuild that frees much of the file gives the pages back, and the
    // rows loaded before keep their places in the file.
    void rebuildGivesPagesBack()
    {
        TempStore store;
        buildFile(store.path(), "0.0.1",
                  {"CREATE TABLE options (name VARCHAR(255), value TEXT, extra TEXT)",
                   "INSERT INTO options WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 400) "
                   "SELECT 'k' || n, hex(randomblob(1000)), 'x' FROM c",
                   "CREATE TABLE items (id BIGINT(32), type VARCHAR(255), owner BIGINT(32))",
                   "INSERT INTO items VALUES (1, 'a', 0), (2, 'b', 0), (3, 'c', 0)", "DELETE FROM items WHERE id = 1"});
        QVERIFY(Database::open(store.path()));
        const int options = Database::tableId("options");
        const int items = Database::tableId("items");
        QCOMPARE(Database::rowCount(options), 400);
        QVERIFY(Database::setValue(options, Database::findRow(options, 0, "k7"), 1, "seven"));
        QVERIFY(Database::setValue(items, Database::findRow(items, 0, 3), 1, "changed"));
        QVERIFY(Database::removeRow(items, Database::findRow(items, 0, 2)));
        QVERIFY(Database::close());
        RawDb db(databaseFile(store.path()));
        QVERIFY(db.text("PRAGMA freelist_count").toInt() * 4 <= db.text("PRAGMA page_count").toInt());
        QCOMPARE(db.text("SELECT value FROM options WHERE name = 'k7'"), QStringLiteral("seven"));
        QCOMPARE(db.text("SELECT id, type FROM items"), QStringLiteral("3|changed"));
    }

    void unusableFileFailsOpen_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("folder");
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        QRandomGenerator random(42);
        for (char &c : noise)
            c = char(random.bounded(256));
        TempStore whole, late;
        QVERIFY(RawDb(databaseFile(whole.path()))
                    .exec("CREATE TABLE skrin AS WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c "
                          "WHERE n < 500) SELECT n AS id, hex(randomblob(100)) AS title FROM c"));
        const QByteArray sound = readFile(databaseFile(whole.path()));
        // A virtual table of a module this SQLite lacks cannot be dropped: a
        // late step of the migration fails after earlier ones succeeded.
        buildFile(late.path(), "0.0.1",
                  {"CREATE TABLE gone (a TEXT)", "CREATE VIEW v AS SELECT * FROM gone",
                   "CREATE TABLE options (name VARCHAR(255), value TEXT, extra TEXT)",
                   "INSERT INTO options VALUES ('k', 'v', 'x')", "PRAGMA writable_schema = ON",
                   "INSERT INTO sqlite_master VALUES ('table', 'vt', 'vt', 0, 'CREATE VIRTUAL TABLE vt USING nosuch(a)')"});
        QTest::newRow("random bytes") << noise << false;
        QTest::newRow("truncated copy") << sound.left(sound.size() / 2) << false;
        QTest::newRow("text file") << QByteArray("hello, this is not a database\n") << false;
        QTest::newRow("folder of that name") << QByteArray("inside") << true;
        QTest::newRow("failing migration") << readFile(databaseFile(late.path())) << false;
    }

    void unusableFileFailsOpen()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, folder);
        TempStore store;
        const QString path = databaseFile(store.path());
        // For a folder in its place, a file inside it stands for its content.
        const QString content = folder ? path + QStringLiteral("/inside") : path;
        QVERIFY(!folder || QDir().mkdir(path));
        QVERIFY(writeFile(content, bytes));
        QString error;
        QVERIFY(!Database::open(store.path(), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!Database::isOpen());
        QVERIFY(!Database::flush());
        // No folder is bound after a failed open: nothing can delete the file now.
        QCOMPARE(Database::dataFolder(), QString());
        Database::deleteDatabaseFiles();
        QVERIFY(!Database::reset());
        QCOMPARE(readFile(content), bytes);
        QCOMPARE(QFileInfo(path).isDir(), folder);
        QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
        // Nor does the file store fall back to the current folder.
        QCOMPARE(Database::filePath("name"), QString());
        QVERIFY(!Database::fileExists(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
    }

    // Where the check may finish after the open, a damaged file whose
    // tables read well opens; the damage is then told, and nothing is ever
    // written to it, by a flush or at the close. A sound one is written once
    // the check has passed. Where the open waits, the same file is refused.
    void checkAfterOpenNeverWritesADamagedFile()
    {
        TempStore store;
        QByteArray bytes;
        damagedWithOneOption(store.path(), &bytes);
        QVERIFY(!bytes.isEmpty());
        const int options = Database::tableId("options");

        Database::setCheckAfterOpen(true);
        const auto waitAgain = qScopeGuard([] { Database::setCheckAfterOpen(false); });
        QString error;
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
        QCOMPARE(Database::findRow(options, column(options, "name"), "kept"), 1);
        QVERIFY(Database::setValue(options, 1, column(options, "value"), "changed"));
        QVERIFY(!Database::flush());
        QTRY_VERIFY(StoreStatus::instance()->damage().contains("database.db is damaged"));
        QVERIFY(!Database::fileCheckPassed());
        QVERIFY(!Database::close());
        QCOMPARE(readFile(databaseFile(store.path())), bytes);

        Database::setCheckAfterOpen(false);
        QVERIFY(!Database::open(store.path(), &error));
        QVERIFY2(error.contains("database.db is damaged"), qPrintable(error));
        QCOMPARE(readFile(databaseFile(store.path())), bytes);

        TempStore sound;
        Database::setCheckAfterOpen(true);
        QVERIFY(Database::open(sound.path()));
        QVERIFY(Database::close());
        QVERIFY(Database::open(sound.path()));
        QVERIFY(Database::insertRow(options, {{column(options, "name"), "written"}}) > 0);
        QVERIFY(Database::flush());
        QVERIFY(Database::fileCheckPassed());
        QVERIFY(StoreStatus::instance()->damage().isEmpty());
        QVERIFY(Database::close());
        QCOMPARE(RawDb(databaseFile(sound.path())).text("SELECT name FROM options"), QStringLiteral("written"));
    }

    // Where the check waits for the first write, a close before the first
    // flush with nothing to write gives the folder back without it; with
    // changes to write, the check comes first and still keeps them out.
    void closeBeforeTheFirstFlushChecksOnlyWhatItWrites()
    {
        TempStore store;
        QByteArray bytes;
        damagedWithOneOption(store.path(), &bytes);
        QVERIFY(!bytes.isEmpty());
        const int options = Database::tableId("options");

        Database::setCheckAfterOpen(true);
        store_internal::pausePeriodicFlush(true);
        const auto restore = qScopeGuard([] {
            store_internal::pausePeriodicFlush(false);
            Database::setCheckAfterOpen(false);
        });
        QString error;
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
        QVERIFY(Database::close());
        QVERIFY(!Database::fileCheckPassed());
        QCOMPARE(readFile(databaseFile(store.path())), bytes);

        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
        QVERIFY(Database::setValue(options, 1, column(options, "value"), "changed"));
        QVERIFY(!Database::close());
        QCOMPARE(readFile(databaseFile(store.path())), bytes);
    }

    // A store that takes no write is refused as a damaged one is. A file
    // size limit fails writes as a full disk does, for root too.
    void unwritableStoreFailsOpen()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        QString error;
        bool opened = false;
        {
            const FileSizeLimit limit(1024);
            QVERIFY(limit.active);
            opened = Database::open(store.path(), &error);
        }
        QVERIFY(!opened && !Database::isOpen());
        QVERIFY2(error.contains("database.db cannot be written"), qPrintable(error));
        QVERIFY2(!error.contains("Unable to fetch row"), qPrintable(error)); // SQLite's reason, not the driver's
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
    }

    // The folder's lock. One whose content is of no use (empty after a power
    // loss, or garbage) or whose program has ended is taken over. One written on
    // another computer is told as such, with its lock file, and taken over
    // only when asked. A lock that cannot be written is refused with the
    // reason, and a stale one never blames its ended program.
    void folderLockIsCheckedAndTold()
    {
        TempStore store;
        const QString lockFile = store.path() + QStringLiteral("/database.db.lock");
        QProcess ended;
        ended.start(QStringLiteral("true"), QStringList());
        QVERIFY(ended.waitForStarted());
        const QByteArray endedPid = QByteArray::number(ended.processId());
        QVERIFY(ended.waitForFinished());
        const QByteArray here = QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n';
        const QByteArray ownPid = QByteArray::number(QCoreApplication::applicationPid());
        QString error;
        const QByteArray staleLocks[] = {QByteArray(), QByteArray("\0\xffgarbage\n", 10), endedPid + "\npellimore\n" + here};
        for (const QByteArray &stale : staleLocks) {
            QVERIFY(writeFile(lockFile, stale));
            QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
            QVERIFY(readFile(lockFile).startsWith(ownPid + '\n'));
            QCOMPARE(Database::folderLock(store.path()).state, FolderLock::Held);
            QVERIFY(Database::close());
            QVERIFY(!QFile::exists(lockFile));
        }

        QVERIFY(writeFile(lockFile, "4242\npellimore\nelsewhere\nanother-machine\n"));
        QVERIFY(!Database::open(store.path(), &error));
        QVERIFY2(error.contains(QStringLiteral("another computer")) && error.contains(lockFile), qPrintable(error));
        FolderLock lock = Database::folderLock(store.path());
        QCOMPARE(lock.state, FolderLock::OtherComputer);
        QCOMPARE(lock.path, lockFile);
        QCOMPARE(std::tuple(lock.process, lock.program, lock.host), std::tuple(4242, QStringLiteral("pellimore"),
                                                                               QStringLiteral("elsewhere")));
        FolderLock older = lock;
        older.process = 4241;
        QVERIFY(!Database::takeOverLock(older, &error)); // not the lock the user was shown
        QVERIFY(Database::takeOverLock(lock, &error));
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
        QVERIFY(Database::close());

        // A disk that takes no byte more.
        const QString full = QString::fromLocal8Bit(std::strerror(EFBIG));
        for (const bool staleLock : {true, false}) {
            if (staleLock)
                QVERIFY(writeFile(lockFile, endedPid + "\npellimore\n" + here));
            bool opened = false;
            {
                const FileSizeLimit limit(0);
                QVERIFY(limit.active);
                opened = Database::open(store.path(), &error);
            }
            QVERIFY(!opened);
            QVERIFY2(error.contains(QStringLiteral("cannot write the lock file")) && error.contains(full)
                         && !error.contains(QStringLiteral("in use")) && !error.contains(QString::fromLatin1(endedPid)),
                     qPrintable(error));
        }
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
    }

    // A lock file that cannot be opened (another user's program made it
    // unreadable, and may still run) proves nothing about its program: the
    // folder is refused, the lock's owner named, and the lock stays. Root
    // opens any file, so where the test runs as root it looks with the file
    // rights of another user.
    void unreadableLockIsRefused()
    {
        TempStore store;
        const QString lockFile = store.path() + QStringLiteral("/database.db.lock");
        const QByteArray here = QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n';
        QVERIFY(writeFile(lockFile, "4242\npellimore\n" + here));
        QVERIFY(QFile::setPermissions(lockFile, {}));
        const QString owner = QFileInfo(lockFile).owner();
#ifdef Q_OS_LINUX
        const bool asAnother = ::geteuid() == 0;
        if (asAnother) {
            // A folder the two users share.
            QVERIFY(QFile::setPermissions(store.path(), QFileDevice::Permissions(0x7777)));
            ::setfsuid(65534);
        }
        const auto asBefore = qScopeGuard([asAnother] {
            if (asAnother)
                ::setfsuid(0);
        });
#else
        if (QFile(lockFile).open(QIODevice::ReadOnly))
            QSKIP("this user reads any file");
#endif
        const FolderLock lock = Database::folderLock(store.path());
        QCOMPARE(lock.state, FolderLock::Unreadable);
        QCOMPARE(lock.owner, owner);
        QString error;
        QVERIFY(!Database::open(store.path(), &error));
        QVERIFY2(error.contains(QStringLiteral("user ") + owner) && error.contains(lockFile), qPrintable(error));
        QVERIFY(QFileInfo::exists(lockFile));
    }

    void closeAndReopen()
    {
        Database::close();
        TempStore store;
        QVERIFY(Database::open(store.path()));
        // Right after open, before the writer has flushed even once.
        Database::close();
        Database::close();
        QVERIFY(!Database::isOpen());
        QVERIFY(!Database::flush());
        Database::startSingleFlush();
        // Open on the open folder closes first, which writes what is pending,
        // also with one-off flushes still in the queue.
        QVERIFY(Database::open(store.path()));
        store_internal::pausePeriodicFlush(true);
        for (int i = 0; i < 50; ++i)
            Database::insertRow(Database::tableId("options"), {{0, QStringLiteral("n%1").arg(i)}, {1, i}});
        for (int i = 0; i < 5; ++i)
            Database::startSingleFlush();
        QVERIFY(Database::open(store.path()));
        store_internal::pausePeriodicFlush(false);
        QCOMPARE(Database::rowCount(Database::tableId("options")), 50);
    }

    void resetRemovesOnlyTheStoresFiles()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        Database::insertRow(Database::tableId("options"), {{0, "k"}, {1, "v"}});
        const QString stored = Database::storeNewFile("bytes");
        QVERIFY(Database::flush());
        // Inside "files": a link to a folder outside, a link to a file outside
        // and nested folders.
        const QString outside = store.path() + QStringLiteral("/outside");
        const QString keep = outside + QStringLiteral("/sub/keep.txt");
        QVERIFY(QDir().mkpath(outside + QStringLiteral("/sub")));
        QVERIFY(writeFile(keep, "keep"));
        const QString files = store.path() + QStringLiteral("/files");
        QVERIFY(QFile::link(outside, files + QStringLiteral("/dirlink")));
        QVERIFY(QFile::link(keep, files + QStringLiteral("/filelink")));
        QVERIFY(QDir().mkpath(files + QStringLiteral("/nested/deeper")));
        QVERIFY(writeFile(files + QStringLiteral("/report.pdf"), "mine"));

        QString error;
        QVERIFY2(Database::reset(&error), qPrintable(error));
        QVERIFY(Database::isOpen());
        QCOMPARE(readFile(keep), QByteArray("keep"));
        // The user's own entries stay; only the store's own file went.
        QCOMPARE(QDir(files).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
                 QStringList({"dirlink", "filelink", "nested", "report.pdf"}));
        QVERIFY(Database::isEmpty(Database::tableId("options")));
        QVERIFY(Database::fileData(stored).isEmpty());

        // Removing a link itself as the root: the link goes, the folder stays whole.
        const QString link = store.path() + QStringLiteral("/link");
        QVERIFY(QFile::link(outside, link));
        Database::removeDirRecursive(link);
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(readFile(keep), QByteArray("keep"));
    }

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

    // A writer that died inside a commit leaves a journal that must be
    // rolled back before anything reads the file: open does that, and the
    // rows are as they were before the commit.
    void interruptedCommitIsRolledBack()
    {
        TempStore before;
        QVERIFY(Database::open(before.path()));
        const int options = Database::tableId("options");
        for (int i = 0; i < 300; ++i)
            Database::insertRow(options, {{0, QStringLiteral("n%1").arg(i)}, {1, QString(500, QLatin1Char('a'))}});
        QVERIFY(Database::close());
        const QString expected = RawDb(databaseFile(before.path())).text("SELECT count(*), sum(length(value)) FROM options");

        for (int attempt = 0; attempt < 5; ++attempt) {
            TempStore crashed;
            {
                // A cache of two pages makes the commit spill: the journal
                // holds the old pages and the file already some new ones.
                RawDb db(databaseFile(before.path()));
                QVERIFY(db.exec("PRAGMA cache_size = 2"));
                QVERIFY(db.exec("BEGIN"));
                QVERIFY(db.exec("UPDATE options SET value = 'b'"));
                QVERIFY(QFile::exists(databaseFile(before.path()) + "-journal"));
                for (const char *suffix : {"", "-journal"})
                    QVERIFY(QFile::copy(databaseFile(before.path()) + suffix, databaseFile(crashed.path()) + suffix));
                QVERIFY(db.exec("ROLLBACK"));
            }
            QString error;
            QVERIFY2(Database::open(crashed.path(), &error), qPrintable(error));
            QVERIFY(Database::close());
            QCOMPARE(RawDb(databaseFile(crashed.path())).text("SELECT count(*), sum(length(value)) FROM options"),
                     expected);
            QVERIFY(!QFile::exists(databaseFile(crashed.path()) + "-journal"));
        }
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

    // Files the store wrote that no row names (what a crash leaves: files of
    // rows that never committed, files of removed rows) go after open; files
    // that rows name stay, and so does whatever the store did not write,
    // whatever its name: its own shape too, links, folders, all of a "files"
    // that is a link, and all of "files" beside a store made new. The
    // program holds the sweep back at open and starts it itself.
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
        const QString leftover = Database::storeNewFile("no row", ".png");
        QVERIFY(Database::close());
        const QString files = store.path() + QStringLiteral("/files/");
        const QString outside = store.path() + QStringLiteral("/photos/");
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(writeFile(outside + "bcdefghi.jpg", "photo"));
        QStringList kept{image, thumb, big, "report.pdf", "title", "abcdefgh_thumb.png", "abcdefgh.png",
                         "abcdefgh.png.Xy12Zq", "birthday.png", "bcdefghi.jpg", "cdefghij"};
        for (const QString &name : kept.mid(3, 6))
            QVERIFY(writeFile(files + name, "not named"));
        QVERIFY(QFile::link(outside + "bcdefghi.jpg", files + "bcdefghi.jpg"));
        QVERIFY(QDir().mkdir(files + "cdefghij"));

        const auto listed = [&files] {
            return QDir(files).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        };
        Database::setOrphanSweepAtOpen(false);
        QVERIFY(Database::open(store.path()));
        Database::setOrphanSweepAtOpen(true);
        QVERIFY(Database::flush());
        store_internal::waitForOrphanSweep();
        QVERIFY(listed().contains(leftover));
        Database::startOrphanSweep();
        store_internal::waitForOrphanSweep();
        kept.sort();
        QCOMPARE(listed(), kept);
        QCOMPARE(Database::fileData(image), QByteArray("image"));
        // Each open sweeps unless held back.
        const QString another = Database::storeNewFile("no row either");
        QVERIFY(Database::open(store.path()));
        store_internal::waitForOrphanSweep();
        QCOMPARE(listed(), kept);
        QVERIFY(!QFile::exists(files + another));

        // "files" a link to a folder of photos whose names look like the store's own.
        TempStore linked;
        QVERIFY(Database::open(linked.path()));
        QVERIFY(Database::close());
        QVERIFY(QDir(linked.path() + "/files").removeRecursively());
        QVERIFY(QFile::link(outside, linked.path() + "/files"));
        QVERIFY(Database::open(linked.path()));
        store_internal::waitForOrphanSweep();
        QCOMPARE(readFile(outside + "bcdefghi.jpg"), QByteArray("photo"));

        // No store yet: nothing in "files" was written by it.
        TempStore fresh;
        QVERIFY(QDir().mkpath(fresh.path() + "/files"));
        QVERIFY(writeFile(fresh.path() + "/files/defghijk.png", "mine"));
        QVERIFY(Database::open(fresh.path()));
        store_internal::waitForOrphanSweep();
        QCOMPARE(readFile(fresh.path() + "/files/defghijk.png"), QByteArray("mine"));
        QVERIFY(Database::close());
    }

    // The sweep reads the store's list of its own files a few names per
    // flush, and never the folder, which may hold far more; closing does not
    // wait for it, and the next start goes on with it.
    void sweepGoesInStepsWithoutListingTheFolder()
    {
#ifndef Q_OS_LINUX
        QSKIP("the folder is watched with inotify");
#else
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QStringList leftovers;
        for (int i = 0; i < 700; ++i)
            leftovers.append(Database::storeNewFile(QByteArray::number(i)));
        QVERIFY(Database::close());
        const QString files = store.path() + QStringLiteral("/files/");
        QVERIFY(writeFile(files + "abcdefgh.png", "mine"));
        const auto remaining = [&] {
            return std::count_if(leftovers.cbegin(), leftovers.cend(),
                                 [&](const QString &name) { return QFile::exists(files + name); });
        };

        Database::setOrphanSweepAtOpen(false);
        QVERIFY(Database::open(store.path()));
        Database::setOrphanSweepAtOpen(true);
        store_internal::pausePeriodicFlush(true);
        const int watcher = inotify_init1(IN_NONBLOCK);
        QVERIFY(watcher >= 0);
        QVERIFY(inotify_add_watch(watcher, QFile::encodeName(files).constData(), IN_OPEN) >= 0);
        Database::startOrphanSweep();
        QVERIFY(Database::flush());
        const auto afterOneFlush = remaining();
        store_internal::pausePeriodicFlush(false);
        QVERIFY(Database::close());
        // The folder itself opened (an event without a name) is a listing.
        alignas(inotify_event) char events[4096];
        const ssize_t size = read(watcher, events, sizeof events);
        ::close(watcher);
        for (ssize_t at = 0; at < size;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            QVERIFY2(event->len > 0, "the folder was listed");
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
        QVERIFY(afterOneFlush > 0 && afterOneFlush < leftovers.size());
        QCOMPARE(remaining(), afterOneFlush);

        QVERIFY(Database::open(store.path()));
        store_internal::waitForOrphanSweep();
        QCOMPARE(remaining(), 0);
        QCOMPARE(readFile(files + "abcdefgh.png"), QByteArray("mine"));
#endif
    }

    // A user's files in "files", of every name shape, stay over starts,
    // sweeps, removals and a reset. A store written before the store kept a
    // list of its files proves its own by its rows: the files they name may
    // go once the rows go, and its other files stay.
    void usersFilesStayOverStartsAndReset()
    {
        TempStore store;
        const QString files = store.path() + QStringLiteral("/files/");
        QVERIFY(QDir().mkpath(files));
        const QStringList mine{"birthday.png", "passport.pdf", "abcdefgh", "abcdefgh.png", "abcdefgh.png.Xy12Zq",
                               "abcdefgh_thumb.jpg", "bcdefghi.part", ".hidden", "notebook.odt"};
        for (const QString &name : mine)
            QVERIFY(writeFile(files + name, name.toUtf8()));

        // The older store: a named file, and one no row names.
        QVERIFY(Database::open(store.path()));
        const int table = Database::tableId("skrin");
        const int fileColumn = column(table, "file");
        const QString named = Database::storeNewFile("named", ".png");
        const int row = Database::insertRow(table, {{0, 1}, {fileColumn, named}});
        const QString unnamed = Database::storeNewFile("unnamed", ".png");
        QVERIFY(Database::close());
        QVERIFY(RawDb(databaseFile(store.path())).exec("DROP TABLE IF EXISTS store_files"));

        const auto userFilesStay = [&] {
            for (const QString &name : mine)
                QVERIFY2(readFile(files + name) == name.toUtf8(), qPrintable(name));
        };
        for (int start = 0; start < 3; ++start) {
            QVERIFY(Database::open(store.path()));
            const QString added = Database::storeNewFile("added", ".jpg");
            Database::insertRow(table, {{0, 10 + start}, {fileColumn, added}});
            if (start == 1) {
                Database::removeRow(table, row);
                Database::removeFile(named);
            }
            QVERIFY(Database::flush());
            store_internal::waitForOrphanSweep();
            QVERIFY(Database::close());
            userFilesStay();
            QCOMPARE(QFile::exists(files + named), start == 0);
            QCOMPARE(readFile(files + added), QByteArray("added"));
        }
        QCOMPARE(readFile(files + unnamed), QByteArray("unnamed"));

        QVERIFY(Database::open(store.path()));
        QString error;
        QVERIFY2(Database::reset(&error), qPrintable(error));
        userFilesStay();
        QStringList left = mine;
        left << unnamed;
        left.sort();
        QCOMPARE(QDir(files).entryList(QDir::Files | QDir::Hidden, QDir::Name), left);
        Database::deleteDatabaseFiles();
        userFilesStay();
        QVERIFY(!QFile::exists(databaseFile(store.path())));
    }

    // The store's list of its own files is read from the file, which may
    // come damaged or from elsewhere: a listed name that is not one bare
    // name in "files" deletes nothing, neither in the sweep nor in a reset.
    void listedNamesOutsideTheFolderDeleteNothing()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        const QString notes = store.path() + QStringLiteral("/notes.txt");
        QVERIFY(writeFile(notes, "notes"));
        QVERIFY(RawDb(databaseFile(store.path()))
                    .exec("INSERT INTO store_files (name, recorded) VALUES ('../notes.txt', 0)"));

        QVERIFY(Database::open(store.path()));
        store_internal::waitForOrphanSweep();
        QCOMPARE(readFile(notes), QByteArray("notes"));
        QString error;
        QVERIFY2(Database::reset(&error), qPrintable(error));
        QCOMPARE(readFile(notes), QByteArray("notes"));
        QVERIFY(Database::close());
    }

    // A file the opening leaves as it is is read in parts side by side; the
    // rows come as one SELECT gives them, whatever their rowids, and a
    // change reaches the row it was read from.
    void tablesReadInPartsKeepTheirRows()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        {
            RawDb db(databaseFile(store.path()));
            QStringList rows;
            for (const qint64 rowid : {qint64(-5), qint64(1), qint64(16384), qint64(16385), qint64(40000),
                                       qint64(9000000000000000000), qint64(-9000000000000000000)})
                rows.append(QStringLiteral("(%1, 'n%1', 'v\u00e9%1')").arg(rowid));
            rows.append(QStringLiteral("(7, NULL, 2.5)"));
            QVERIFY2(db.exec("INSERT INTO options (rowid, name, value) VALUES " + rows.join(',')), qPrintable(db.lastError));
            QVERIFY(db.exec("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 5000) "
                            "INSERT INTO options (rowid, name, value) SELECT 20000 + n, 'k', n FROM c"));
        }
        const int options = Database::tableId("options");
        const auto memory = [options] {
            QStringList rows;
            for (RowCursor cursor = Database::allRows(options); cursor.next();) {
                QStringList cells;
                for (const QVariant &cell : Database::rowValues(cursor))
                    cells.append(isNullValue(cell) ? QStringLiteral("NULL") : cell.toString());
                rows.append(cells.join('|'));
            }
            return rows.join(';');
        };
        const QString expected = RawDb(databaseFile(store.path())).text("SELECT name, value FROM options");
        QVERIFY(Database::open(store.path()));
        QCOMPARE(memory(), expected);
        QVERIFY(Database::setValue(options, Database::findRow(options, 0, "n40000"), 1, "changed"));
        QVERIFY(Database::close());
        QCOMPARE(RawDb(databaseFile(store.path())).text("SELECT value FROM options WHERE rowid = 40000"),
                 QStringLiteral("changed"));
    }

    // A file whose every table is empty, the stamp table too, is read as
    // it is, with no part for any reader, at every open.
    void fileWithNoRowsOpens()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        {
            RawDb db(databaseFile(store.path()));
            QVERIFY2(db.exec("DELETE FROM database_stamp"), qPrintable(db.lastError));
        }
        for (int open = 0; open < 2; ++open) {
            QString error;
            QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
            for (int table = 0; table < Database::tableCount(); ++table)
                QCOMPARE(Database::rowCount(table), 0);
            QVERIFY(Database::close());
        }
        QCOMPARE(RawDb(databaseFile(store.path())).text("SELECT count(*) FROM database_stamp"), QStringLiteral("0"));
    }

    // The indexes of the whole-number key columns (ids, parents) are made
    // while the tables are read, whole or in parts side by side: whatever
    // the file holds in them (every kind of SQLite value, equal keys, rows
    // gone between parts), they list the rows as an index built afterwards
    // does, and no lookup has one built.
    void keyIndexesAreMadeWhileReading()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        {
            RawDb db(databaseFile(store.path()));
            const QStringList kinds{"5", "-3", "0", "9223372036854775807", "-9223372036854775808", "'12'", "' 7'",
                                    "'abc'", "''", "2.5", "3.0", "-0.0", "1e300", "NULL", "x'00ff'", "x''",
                                    "'5'", "'caf\u00e9'"};
            QStringList rows;
            QRandomGenerator random(3);
            for (int i = 0; i < 3000; ++i) {
                const auto pick = [&] { return kinds.at(random.bounded(int(kinds.size()))); };
                rows.append(QStringLiteral("(%1, %2, %3)").arg(i % 3 ? QString::number(-i) : pick(), pick(), pick()));
            }
            for (const char *table : {"items (id, owner, type)", "skrin_image (id, parent, file)"}) {
                QVERIFY2(db.exec(QStringLiteral("INSERT INTO %1 VALUES %2").arg(table, rows.join(','))),
                         qPrintable(db.lastError));
            }
            QVERIFY(db.exec("DELETE FROM skrin_image WHERE rowid BETWEEN 1000 AND 1500 OR rowid % 7 = 0"));
            // A table of nobody's makes the next open change the file, which
            // it then reads table by table.
            QVERIFY(db.exec("CREATE TABLE stray (a TEXT)"));
        }
        for (const bool wholeTables : {true, false}) {
            QVERIFY(Database::open(store.path()));
            for (const auto &[name, columns] : {std::pair("items", QStringList{"id", "owner"}),
                                                std::pair("skrin_image", QStringList{"id", "parent"})}) {
                const int table = Database::tableId(name);
                for (const QString &keyName : columns) {
                    const int key = column(table, qPrintable(keyName));
                    {
                        QMutexLocker locker(&store_internal::tableMutex);
                        QVERIFY(store_internal::tables.at(table).valueIndexes.contains(key));
                    }
                    const QList<int> read = indexOrder(table, key);
                    QCOMPARE(read.size(), Database::rowCount(table));
                    Database::dropColumnIndex(table, key);
                    Database::buildColumnIndex(table, key);
                    QVERIFY2(indexOrder(table, key) == read, qPrintable(QStringLiteral("%1.%2 read %3")
                                                                            .arg(name, keyName,
                                                                                 wholeTables ? "whole" : "in parts")));
                }
            }
            QVERIFY(Database::close());
        }
    }

    // Texts read from the file, long and short, ASCII or not, give back the
    // same strings; they compare, look up (through the name index too) and
    // change as any text does, and the change is what the file then holds.
    void textsReadFromTheFileKeepTheirValue()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        QVERIFY(Database::close());
        QString stroke = QStringLiteral("[");
        for (int i = 0; i < 400; ++i)
            stroke += QStringLiteral("%1.25,%2.5,").arg(i).arg(i % 17);
        stroke += QStringLiteral("0]");
        const QString longName =
            QStringLiteral("a name longer than a date or a file name, and kept as it is in the file");
        const QMap<QString, QString> written{{"stroke", stroke},
                                             {"sixteen", "0123456789abcdef"},
                                             {"date", "2024-03-01T10:00:00.000"},
                                             {"short", "abc"},
                                             {"accented", QStringLiteral("caf\u00e9 ").repeated(10)},
                                             // A byte above ASCII in each place of an eight-byte word.
                                             {"last of a word", QStringLiteral("abcdef\u00e9")},
                                             {"after a word", QStringLiteral("abcdefgh\u00e9")},
                                             {"first", QStringLiteral("\u00e9abcdefghijklmnop")},
                                             {"in the second word", QStringLiteral("0123456789\u00e9xyz")},
                                             {longName, "named"}};
        {
            RawDb db(databaseFile(store.path()));
            for (auto it = written.cbegin(); it != written.cend(); ++it) {
                const QString insert = QStringLiteral("INSERT INTO options (name, value) VALUES ('%1', '%2')");
                QVERIFY2(db.exec(insert.arg(it.key(), it.value())), qPrintable(db.lastError));
            }
        }
        QVERIFY(Database::open(store.path()));
        const int options = Database::tableId("options");
        const int value = column(options, "value");
        for (auto it = written.cbegin(); it != written.cend(); ++it) {
            const int row = Database::findRow(options, column(options, "name"), it.key());
            QVERIFY2(row > 0, qPrintable(it.key()));
            const QVariant cell = Database::value(options, row, value);
            QCOMPARE(cell.typeId(), int(QMetaType::QString));
            QCOMPARE(cell.toString(), it.value());
            QCOMPARE(Database::rowValues(options, row).value(value), cell);
            QVERIFY(!Database::setValue(options, row, value, it.value())); // equal: no change
            QCOMPARE(Database::findRow(options, value, it.value()), row);
        }
        const int strokeRow = Database::findRow(options, column(options, "name"), "stroke");
        const QString changed = stroke + QStringLiteral(",1");
        QVERIFY(Database::setValue(options, strokeRow, value, changed));
        QVERIFY(Database::close());
        QCOMPARE(RawDb(databaseFile(store.path())).text("SELECT value FROM options WHERE name = 'stroke'"), changed);
        QVERIFY(Database::open(store.path()));
        QCOMPARE(Database::valueWhere(options, {{column(options, "name"), "stroke"}}, value).toString(), changed);
    }
};

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
