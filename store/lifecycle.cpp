// Opening, migrating, loading, closing and resetting the store.

#include "filecheck_p.h"
#include "fileledger_p.h"
#include "folderlock_p.h"
#include "migration_p.h"
#include "tableload_p.h"
#include "writer_p.h"

#include "storelog.h"
#include "storestatus.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>

#include <sqlite3.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace store_internal {

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

QString sqlReason(const QSqlError &error)
{
    const QString database = error.databaseText().trimmed();
    return database.isEmpty() ? error.driverText().trimmed() : database;
}

} // namespace store_internal

using namespace store_internal;

namespace {

// Serialises open, close, reset and deleting the files. Taken before any
// other lock of the store.
QMutex lifecycleMutex;
QAtomicInt connectionCounter;
// The open data folder's lock; guarded by lifecycleMutex.
std::unique_ptr<QLockFile> folderLock;

// A connection of its own for one opening or one look into the file, closed
// and removed when it goes out of scope (every query on it must be gone by
// then).
class OpenConnection
{
public:
    enum Access { ReadWrite, ReadOnly };

    explicit OpenConnection(const QString &path, Access access = ReadWrite)
        : name(QStringLiteral("pellimore-open-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                                 .arg(busyTimeoutMs)
                                 .arg(access == ReadOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    }
    ~OpenConnection()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    OpenConnection(const OpenConnection &) = delete;
    OpenConnection &operator=(const OpenConnection &) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

private:
    QString name;
};

// A number a PRAGMA answers with; -1 when it fails.
qint64 pragmaNumber(const QSqlDatabase &db, const QString &name)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("PRAGMA %1").arg(name)) && query.next() ? query.value(0).toLongLong() : -1;
}

// Tables dropped or rebuilt leave their pages free inside the file, which
// SQLite keeps: a rebuilt table would double it. When more than a quarter
// of the file is free, VACUUM writes it anew without them (through the
// journal, as any commit). VACUUM may renumber the rowids of tables without
// an INTEGER PRIMARY KEY, keeping their rows' order, so the loaded rows take
// the rowids of the rows in the same places. A VACUUM that fails leaves the
// file as it was, and only its size suffers.
bool giveBackFreePages(const QSqlDatabase &db, QVector<Table> *loaded, QString *error)
{
    const qint64 free = pragmaNumber(db, QStringLiteral("freelist_count"));
    const qint64 pages = pragmaNumber(db, QStringLiteral("page_count"));
    if (free < 0 || pages <= 0 || free * 4 <= pages)
        return true;
    QSqlQuery vacuum(db);
    if (!run(db, QStringLiteral("PRAGMA cache_spill = ON"), error) || !vacuum.exec(QStringLiteral("VACUUM"))) {
        qCWarning(lcStore).noquote() << "Database: cannot give back the free pages of" << db.databaseName() << ":"
                                     << sqlReason(vacuum.lastError());
        return true;
    }
    for (Table &table : *loaded) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        std::vector<qint64> rowIds{-1};
        if (query.exec(QStringLiteral("SELECT rowid FROM %1").arg(quoteIdentifier(table.name)))) {
            while (query.next())
                rowIds.push_back(query.value(0).toLongLong());
        }
        if (query.lastError().isValid() || qsizetype(rowIds.size()) != qsizetype(table.nextRowNumber))
            return fail(error, QStringLiteral("cannot read the rows of %1 again after VACUUM: %2")
                                   .arg(table.name, sqlReason(query.lastError())));
        table.rowIds = RowIds(std::move(rowIds));
    }
    return true;
}

// Whether the file takes a write, found out with one that is rolled back:
// a store that could only be read (a read-only file or folder, a full disk)
// would otherwise lose a whole session's changes at exit.
bool probeWrite(const QSqlDatabase &db, const QString &path, QString *error)
{
    QSqlQuery query(db);
    const bool ok = query.exec(QStringLiteral("BEGIN IMMEDIATE"))
                    && query.exec(QStringLiteral("CREATE TABLE `pellimore_write_probe` (`x` TEXT)"));
    const QString reason = sqlReason(query.lastError());
    query.exec(QStringLiteral("ROLLBACK"));
    return ok || fail(error, QStringLiteral("%1 cannot be written: %2").arg(path, reason));
}

// The same for the "files" folder: a file is made, written and removed.
bool probeFilesFolder(const QString &files, QString *error)
{
    QTemporaryFile probe(files + QStringLiteral("/write-probe-XXXXXX"));
    if (probe.open() && probe.write("x", 1) == 1 && probe.flush())
        return true;
    return fail(error, QStringLiteral("%1 cannot be written: %2").arg(files, probe.errorString()));
}

// Everything that touches the file, in one transaction that is committed
// only when the whole file has been migrated and read: any failure leaves
// the file as it was.
bool migrateAndLoad(const QString &path, QVector<Table> *loaded, QString *error)
{
    OpenConnection connection(path);
    QSqlDatabase db = connection.db();
    if (!db.open())
        return fail(error, QStringLiteral("cannot open %1: %2").arg(path, sqlReason(db.lastError())));
    if (!probeWrite(db, path, error)) {
        // A damaged file explains the failure best.
        const QString damage = QFileInfo(path).size() > 0 ? checkDatabase(path) : QString();
        return damage.isEmpty() ? false : fail(error, damage);
    }

    // Taking the write lock first rolls back the journal of a writer that
    // died inside a commit; the check's read-only connection cannot do that
    // and would find the file unusable.
    if (!run(db, QStringLiteral("PRAGMA cache_spill = OFF"), error) || !run(db, QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;

    // Is this a sound SQLite database at all? The check reads the whole
    // file, on a connection of its own; nothing is written before it has
    // passed. It runs beside the migration and the load, or, where the
    // caller lets it finish after the open, before the first write, so that
    // it does not take from the reading and what follows it. With spilling
    // off the migration keeps its changes in memory until then, so the two
    // never wait for each other's locks.
    const QString checked = QFileInfo(path).size() > 0 ? path : QString();
    if (checkAfterOpen())
        deferFileCheck(checked);
    else
        startFileCheck(checked);

    // A rebuild writes a whole table: held in memory until the commit, a
    // large one would cost as much again as its rows. So the check is
    // awaited first, and the rebuild may then spill to the file.
    const BeforeRebuild beforeRebuild = [&](QString *why) {
        const QString damage = fileCheckVerdict();
        return damage.isEmpty() ? run(db, QStringLiteral("PRAGMA cache_spill = ON"), why) : fail(why, damage);
    };
    bool changed = false;
    sqlite3 *handle = sqliteHandle(db);
    const qint64 schemaBefore = pragmaNumber(db, QStringLiteral("schema_version"));
    const qint64 changesBefore = handle ? sqlite3_total_changes64(handle) : -1;
    bool ok = migrate(db, beforeRebuild, &changed, error)
              && ensureFileLedger(db, QFileInfo(path).absolutePath() + QStringLiteral("/files"), error);
    QStringList names;
    if (ok)
        ok = userTables(db, &names, error);
    // Other connections see the file as last committed: only a file that the
    // migration left as it was can be read beside this one.
    const bool unchanged = ok && handle && schemaBefore >= 0
                           && pragmaNumber(db, QStringLiteral("schema_version")) == schemaBefore
                           && sqlite3_total_changes64(handle) == changesBefore;
    if (unchanged) {
        ok = loadTablesSideBySide(db, path, names, loaded, error);
    } else {
        for (qsizetype i = 0; ok && i < names.size(); ++i) {
            Table table;
            ok = loadTable(db, names.at(i), &table, error);
            if (ok)
                loaded->append(std::move(table));
        }
    }
    // A file the opening changed is committed once it is known sound. One
    // it left as it was has nothing to commit: its transaction ends with a
    // rollback, which (unlike a commit) does not wait for the check's reading,
    // and it may end before the verdict where the caller lets the check
    // finish after the open: the writer asks for it then. A damaged file
    // explains any other failure best.
    if (!ok || !unchanged || !checkAfterOpen()) {
        const QString damage = fileCheckVerdict();
        if (!damage.isEmpty())
            ok = fail(error, damage);
    }
    if (ok)
        ok = run(db, unchanged ? QStringLiteral("ROLLBACK") : QStringLiteral("COMMIT"), error);
    if (!ok) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        loaded->clear();
        return false;
    }
    if (changed && !giveBackFreePages(db, loaded, error)) {
        loaded->clear();
        return false;
    }
    return true;
}

bool closeLocked()
{
    stopIndexBuilder();
    const bool written = stopWriter();
    {
        QMutexLocker locker(&flushMutex);
        closed = true;
    }
    folderLock.reset();
    return written;
}

void forgetFolder()
{
    QMutexLocker files(&fileMutex);
    QMutexLocker locker(&tableMutex);
    filesDir = QDir();
    dataDirPath.clear();
    databasePath.clear();
}

bool openLocked(const QString &folder, QString *error)
{
    // SQLite counts its memory under one lock for the whole process, where
    // the side-by-side readers of an opening would queue. The setting takes
    // only before SQLite's first use in the process; later it is refused and
    // changes nothing.
    static const bool uncounted = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    Q_UNUSED(uncounted);
    closeLocked();
    {
        QMutexLocker files(&fileMutex);
        QMutexLocker locker(&tableMutex);
        // Freeing a large store takes a while; nobody needs to wait for it.
        tables.clear();
        tableIds.clear();
        qsizetype unwritten = 0;
        for (const FileEntry &entry : std::as_const(fileCache))
            unwritten += (!entry.onDisk && !entry.removed) ? 1 : 0;
        if (unwritten > 0)
            qCWarning(lcStore) << "Database:" << unwritten << "file(s) that could not be written are dropped";
        fileCache.clear();
        // Names handed out for the folder before; rows would wait for them.
        reservedNames.clear();
        filesDir = QDir();
        dataDirPath.clear();
        databasePath.clear();
    }

    if (folder.isEmpty())
        return fail(error, QStringLiteral("no data folder given"));
    const QFileInfo folderInfo(folder);
    if (folderInfo.exists() && !folderInfo.isDir())
        return fail(error, QStringLiteral("%1 is not a folder").arg(folder));
    if (!folderInfo.exists() && !QDir().mkpath(folder))
        return fail(error, QStringLiteral("cannot create the folder %1").arg(folder));
    const QDir dir(folderInfo.absoluteFilePath());
    const QString path = dir.absoluteFilePath(Database::databaseFileName());
    const QString files = dir.absoluteFilePath(QStringLiteral("files"));
    const QFileInfo pathInfo(path);
    if (pathInfo.exists() && !pathInfo.isFile())
        return fail(error, QStringLiteral("%1 is not a file").arg(path));
    if (pathInfo.exists() && !pathInfo.isReadable())
        return fail(error, QStringLiteral("%1 cannot be read").arg(path));
    const QFileInfo filesInfo(files);
    if (filesInfo.exists() && !filesInfo.isDir())
        return fail(error, QStringLiteral("%1 is not a folder").arg(files));

    std::unique_ptr<QLockFile> lock = lockFolder(dir, error);
    if (!lock)
        return false;
    QVector<Table> loaded;
    if (!migrateAndLoad(path, &loaded, error))
        return false;
    if (!QDir().mkpath(files))
        return fail(error, QStringLiteral("cannot create the folder %1").arg(files));
    if (!probeFilesFolder(files, error))
        return false;

    {
        QMutexLocker filesLocker(&fileMutex);
        QMutexLocker locker(&tableMutex);
        tables = std::move(loaded);
        for (int i = 0; i < tables.size(); ++i)
            tableIds.insert(tables.at(i).name, i);
        filesDir = QDir(files);
        dataDirPath = dir.absolutePath();
        databasePath = path;
    }
    // The key columns are declared one at a time; each index the reading
    // has not made (those of texts) is built when it is first used.
    buildIndexesTogether([] { Database::declareKeyIndexes(); });
#ifdef __GLIBC__
    // Loading and indexing leave much freed memory behind in the heap;
    // handing it back keeps the opened store's footprint near its contents.
    malloc_trim(0);
#endif

    // The probes passed: whatever failed before, this store can write. Told
    // before the writer runs, whose flushes may tell otherwise.
    StoreStatus::instance()->setWriteFailure(QString());
    StoreStatus::instance()->setDamage(QString());
    {
        QMutexLocker locker(&flushMutex);
        closed = false;
    }
    if (!startWriter(path, error)) {
        {
            QMutexLocker locker(&flushMutex);
            closed = true;
        }
        forgetFolder();
        return false;
    }
    folderLock = std::move(lock);

    startOrphanSweep(true);

    // A store left open at exit is closed while Qt still runs.
    static bool cleanupRegistered = false;
    if (!cleanupRegistered && QCoreApplication::instance()) {
        cleanupRegistered = true;
        qAddPostRoutine([] { Database::close(); });
    }
    return true;
}

void deleteFilesLocked()
{
    QString path;
    QString files;
    {
        QMutexLocker locker(&fileMutex);
        if (dataDirPath.isEmpty())
            return;
        path = databasePath;
        files = filesDir.absolutePath();
        // The cached entries stood for the files about to go.
        fileCache.clear();
    }
    // Only what the store wrote goes: the names its ledger holds. A portable
    // data folder is any folder the user chose, so its "files" may hold
    // their own documents, links and folders, whatever their names: those
    // stay, and the folder with them. A ledger that cannot be read proves
    // nothing, and every file stays.
    bool listed = false;
    if (QFileInfo(path).isFile()) {
        const OpenConnection connection(path, OpenConnection::ReadOnly);
        listed = connection.db().open()
                 && visitRecordedNames(connection.db(), [&files](const QString &name) { removeStoredFile(files, name); });
    }
    if (!listed)
        qCWarning(lcStore).noquote() << "Database: cannot read which files in" << files
                                     << "the store wrote; they stay";
    QFile::remove(path);
    // A journal left beside a deleted database would be played into the next one.
    for (const char *suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    QDir().rmdir(files);
}

} // namespace

bool Database::open(const QString &dataFolder, QString *error)
{
    QMutexLocker locker(&lifecycleMutex);
    return openLocked(dataFolder, error);
}

bool Database::close()
{
    QMutexLocker locker(&lifecycleMutex);
    return closeLocked();
}

bool Database::isOpen()
{
    return writerAccepting();
}

bool Database::reset(QString *error)
{
    QMutexLocker locker(&lifecycleMutex);
    QString folder;
    {
        QMutexLocker files(&fileMutex);
        folder = dataDirPath;
    }
    if (folder.isEmpty())
        return fail(error, QStringLiteral("no data folder is open"));
    closeLocked();
    deleteFilesLocked();
    return openLocked(folder, error);
}

void Database::deleteDatabaseFiles()
{
    QMutexLocker locker(&lifecycleMutex);
    closeLocked();
    deleteFilesLocked();
}

void Database::removeDirRecursive(const QString &path)
{
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    // A link goes by itself; what it points to stays.
    if (info.isSymLink() || info.isJunction() || !info.isDir()) {
        QFile::remove(path);
        return;
    }
    QDir(path).removeRecursively();
}

QString Database::databaseFileName()
{
    return QStringLiteral("database.db");
}

QString Database::dataFolder()
{
    QMutexLocker locker(&fileMutex);
    return dataDirPath;
}
