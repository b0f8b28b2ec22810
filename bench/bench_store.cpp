// Opening and flushing the table store against plain SQLite doing the same
// work on the same data: 100,000 rows of the 20-column `skrin` table.
//
// Output ends with:
//   ratio store_open_100k                   open + load + indexes / forward-only QSqlQuery read, each in a
//                                           fresh process (best of 5 pairs)
//   ratio store_flush_insert_100k           flush of new rows / prepared QSqlQuery INSERT loop
//   ratio store_flush_insert_100k_vs_sqlite3  flush of new rows / sqlite3 C API INSERT loop
//   ratio store_flush_update_100k           flush of changed cells / prepared QSqlQuery UPDATE loop
//   ratio store_lock_hold_10k               longest tableMutex hold / whole flush, 10,000 new rows
//   ratio store_open_memory_over_file       resident memory an opened 100,000-row store adds / its file size

#include "database.h"
#include "database_p.h"
#include "residentbytes.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>

namespace {

constexpr int rowCount = 100000;
constexpr int lockRowCount = 10000;

QTemporaryDir *workDir = nullptr;
QVector<QVector<QVariant>> rows; // the rows every case writes, in `skrin` column order
QString createSkrin;             // CREATE TABLE text of `skrin` as the store makes it
QStringList skrinColumns;

// Best time of each figure, in seconds.
std::map<std::string, double> best;
double worstLockShare = 0.0;

void record(const std::string &name, double seconds)
{
    const auto it = best.find(name);
    if (it == best.end() || seconds < it->second)
        best[name] = seconds;
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

QString folder(const QString &name)
{
    return workDir->path() + QLatin1Char('/') + name;
}

void die(const char *what)
{
    std::fprintf(stderr, "bench_store: %s\n", what);
    std::exit(1);
}

// A connection of its own, closed when it goes out of scope.
class Connection
{
public:
    explicit Connection(const QString &path)
        : name(QStringLiteral("bench-%1").arg(counter++))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            die("cannot open a database");
    }
    ~Connection()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

private:
    static inline int counter = 0;
    QString name;
};

QVector<QVariant> makeRow(QRandomGenerator &random, int i)
{
    const QDateTime base(QDate(2023, 1, 1), QTime(0, 0));
    const auto text = [&random](int length) {
        QString s;
        s.reserve(length);
        for (int k = 0; k < length; ++k)
            s.append(QChar(u'a' + random.bounded(26)));
        return s;
    };
    return {QVariant(qint64(1000000 + i)),
            QVariant(qint64(i % 977)),
            text(8),
            text(24),
            text(60),
            base.addSecs(i).toString(Qt::ISODateWithMs),
            base.addSecs(2 * i).toString(Qt::ISODateWithMs),
            random.bounded(1000.0),
            random.bounded(1000.0),
            random.bounded(1000.0),
            random.bounded(1000.0),
            text(8) + QStringLiteral(".png"),
            text(8) + QStringLiteral(".png"),
            text(8) + QStringLiteral(".png"),
            text(8) + QStringLiteral(".png"),
            QVariant(int(i % 2)),
            QVariant(0),
            i % 3 ? QVariant() : QVariant(text(40)),
            QVariant(int(i % 12)),
            text(16)};
}

void prepareData()
{
    QRandomGenerator random(99);
    rows.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i)
        rows.append(makeRow(random, i));

    // The store makes the schema; "loaded" then gets the rows by plain SQL.
    if (!Database::open(folder(QStringLiteral("loaded"))))
        die("cannot open the store");
    skrinColumns = Database::columnNames(Database::tableId(QStringLiteral("skrin")));
    Database::close();
    if (skrinColumns.size() != 20)
        die("unexpected skrin layout");
    const QString path = folder(QStringLiteral("loaded/database.db"));
    {
        Connection connection(path);
        QSqlQuery query(connection.db());
        query.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'skrin'"));
        if (!query.next())
            die("no skrin table");
        createSkrin = query.value(0).toString();
        QSqlDatabase db = connection.db();
        db.transaction();
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO skrin VALUES (%1)").arg(QStringList(20, QStringLiteral("?")).join(u',')));
        for (const QVector<QVariant> &row : std::as_const(rows)) {
            for (int c = 0; c < 20; ++c)
                insert.bindValue(c, row.at(c));
            if (!insert.exec())
                die("cannot fill the table");
        }
        db.commit();
    }
    QDir().mkpath(folder(QStringLiteral("updated")));
    QFile::copy(path, folder(QStringLiteral("updated/database.db")));
    QFile::copy(path, folder(QStringLiteral("anchor-update.db")));
}

// --- Open and load -----------------------------------------------------------

// Each figure of the opening is taken in a fresh process, as the program
// meets it at start: no earlier store is freed on the way, and freed memory
// of earlier work hides nothing. The SQLite driver is loaded beforehand in
// both, so that neither counts it.

void loadDriver()
{
    const QString name = QStringLiteral("driver");
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    QSqlDatabase::removeDatabase(name);
}

// Child: the anchor, a plain forward-only read of every row; prints seconds.
int childRead(const QString &dataFolder)
{
    loadDriver();
    QElapsedTimer timer;
    timer.start();
    qint64 count = 0;
    {
        Connection connection(dataFolder + QStringLiteral("/database.db"));
        QSqlQuery query(connection.db());
        query.setForwardOnly(true);
        query.exec(QStringLiteral("SELECT rowid, * FROM skrin"));
        while (query.next()) {
            for (int i = 0; i <= 20; ++i) {
                QVariant value = query.value(i);
                benchmark::DoNotOptimize(value);
            }
            ++count;
        }
    }
    std::printf("%.6f\n", seconds(timer));
    return count == rowCount ? 0 : 1;
}

// Child: opens the store; prints seconds and the resident growth in bytes.
int childOpen(const QString &dataFolder)
{
    loadDriver();
    const qint64 before = residentBytes();
    QElapsedTimer timer;
    timer.start();
    if (!Database::open(dataFolder))
        return 1;
    const double took = seconds(timer);
    const qint64 growth = residentBytes() - before;
    if (Database::rowCount(Database::tableId(QStringLiteral("skrin"))) != rowCount)
        return 1;
    std::printf("%.6f %lld\n", took, qlonglong(before > 0 ? growth : 0));
    Database::close();
    return 0;
}

QList<QByteArray> runChild(const char *mode)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(mode), folder(QStringLiteral("loaded"))});
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        die("a measuring child failed");
    return child.readAllStandardOutput().trimmed().split(' ');
}

qint64 openGrowth = 0;

// Each iteration reads the rows plainly and then opens the store, so that
// both figures of a pair meet the same load on the machine.
void storeOpen(benchmark::State &state)
{
    for (auto _ : state) {
        record("read", runChild("--child-read").value(0).toDouble());
        const QList<QByteArray> open = runChild("--child-open");
        const double took = open.value(0).toDouble();
        openGrowth = open.value(1).toLongLong();
        state.SetIterationTime(took);
        record("open", took);
    }
}

// --- Inserts -----------------------------------------------------------------

void fillStore(int count)
{
    const int skrin = Database::tableId(QStringLiteral("skrin"));
    for (int i = 0; i < count; ++i) {
        const QVector<QVariant> &row = rows.at(i);
        Conditions values;
        for (int c = 0; c < 20; ++c)
            values.insert(c, row.at(c));
        Database::insertRow(skrin, values);
    }
}

void storeFlushInsert(benchmark::State &state)
{
    for (auto _ : state) {
        QDir(folder(QStringLiteral("inserted"))).removeRecursively();
        if (!Database::open(folder(QStringLiteral("inserted"))))
            die("open failed");
        store_internal::pausePeriodicFlush(true);
        fillStore(rowCount);
        QElapsedTimer timer;
        timer.start();
        if (!Database::flush())
            die("flush failed");
        const double took = seconds(timer);
        state.SetIterationTime(took);
        record("insert", took);
        Database::close();
        store_internal::pausePeriodicFlush(false);
    }
}

QString freshAnchorFile(const QString &name)
{
    const QString path = folder(name);
    QFile::remove(path);
    Connection connection(path);
    QSqlQuery query(connection.db());
    if (!query.exec(createSkrin))
        die("cannot create the anchor table");
    return path;
}

void anchorInsert(benchmark::State &state)
{
    for (auto _ : state) {
        const QString path = freshAnchorFile(QStringLiteral("anchor-insert.db"));
        Connection connection(path);
        QSqlDatabase db = connection.db();
        QElapsedTimer timer;
        timer.start();
        db.transaction();
        QSqlQuery insert(db);
        QStringList columns;
        for (const QString &column : std::as_const(skrinColumns))
            columns.append(QLatin1Char('`') + column + QLatin1Char('`'));
        insert.prepare(QStringLiteral("INSERT INTO skrin (%1) VALUES (%2)")
                           .arg(columns.join(QStringLiteral(", ")), QStringList(20, QStringLiteral("?")).join(u',')));
        for (const QVector<QVariant> &row : std::as_const(rows)) {
            for (int c = 0; c < 20; ++c)
                insert.bindValue(c, row.at(c));
            if (!insert.exec())
                die("anchor insert failed");
        }
        db.commit();
        const double took = seconds(timer);
        state.SetIterationTime(took);
        record("insert-qt", took);
    }
}

void anchorInsertSqlite(benchmark::State &state)
{
    for (auto _ : state) {
        const QString path = freshAnchorFile(QStringLiteral("anchor-insert-c.db"));
        sqlite3 *db = nullptr;
        if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
            die("sqlite3_open failed");
        QElapsedTimer timer;
        timer.start();
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt *insert = nullptr;
        const QByteArray sql = "INSERT INTO skrin VALUES (" + QByteArray("?,").repeated(19) + "?)";
        sqlite3_prepare_v2(db, sql.constData(), -1, &insert, nullptr);
        for (const QVector<QVariant> &row : std::as_const(rows)) {
            for (int c = 0; c < 20; ++c) {
                const QVariant &v = row.at(c);
                if (isNullValue(v)) {
                    sqlite3_bind_null(insert, c + 1);
                } else if (v.typeId() == QMetaType::Double) {
                    sqlite3_bind_double(insert, c + 1, v.toDouble());
                } else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) {
                    sqlite3_bind_int64(insert, c + 1, v.toLongLong());
                } else {
                    const QString text = v.toString();
                    sqlite3_bind_text16(insert, c + 1, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
                }
            }
            if (sqlite3_step(insert) != SQLITE_DONE)
                die("sqlite3 insert failed");
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        const double took = seconds(timer);
        sqlite3_close(db);
        state.SetIterationTime(took);
        record("insert-c", took);
    }
}

// --- Updates -----------------------------------------------------------------

int updateRound = 0;

QString newTitle(int i)
{
    return QStringLiteral("changed %1 in round %2").arg(i).arg(updateRound);
}

void storeFlushUpdate(benchmark::State &state)
{
    if (!Database::open(folder(QStringLiteral("updated"))))
        die("open failed");
    store_internal::pausePeriodicFlush(true);
    const int skrin = Database::tableId(QStringLiteral("skrin"));
    const int title = Database::columnId(skrin, QStringLiteral("title"));
    for (auto _ : state) {
        ++updateRound;
        for (int row = 1; row <= rowCount; ++row)
            Database::setValue(skrin, row, title, newTitle(row));
        QElapsedTimer timer;
        timer.start();
        if (!Database::flush())
            die("flush failed");
        const double took = seconds(timer);
        state.SetIterationTime(took);
        record("update", took);
    }
    Database::close();
    store_internal::pausePeriodicFlush(false);
}

void anchorUpdate(benchmark::State &state)
{
    Connection connection(folder(QStringLiteral("anchor-update.db")));
    QSqlDatabase db = connection.db();
    QList<qint64> rowids;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.exec(QStringLiteral("SELECT rowid FROM skrin"));
        while (query.next())
            rowids.append(query.value(0).toLongLong());
    }
    for (auto _ : state) {
        ++updateRound;
        QList<QString> titles;
        titles.reserve(rowids.size());
        for (int i = 0; i < rowids.size(); ++i)
            titles.append(newTitle(i + 1));
        QElapsedTimer timer;
        timer.start();
        db.transaction();
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE `skrin` SET `title` = ? WHERE rowid = ?"));
        for (int i = 0; i < rowids.size(); ++i) {
            update.bindValue(0, titles.at(i));
            update.bindValue(1, rowids.at(i));
            if (!update.exec())
                die("anchor update failed");
        }
        db.commit();
        const double took = seconds(timer);
        state.SetIterationTime(took);
        record("update-qt", took);
    }
}

// --- Lock hold ---------------------------------------------------------------

void storeLockHold(benchmark::State &state)
{
    for (auto _ : state) {
        QDir(folder(QStringLiteral("locks"))).removeRecursively();
        if (!Database::open(folder(QStringLiteral("locks"))))
            die("open failed");
        store_internal::pausePeriodicFlush(true);
        fillStore(lockRowCount);
        if (!Database::flush())
            die("flush failed");
        const store_internal::FlushTiming timing = store_internal::lastFlushTiming();
        state.SetIterationTime(double(timing.flushNs) / 1e9);
        state.counters["longest_hold_us"] = double(timing.longestTableHoldNs) / 1e3;
        if (timing.flushNs <= 0)
            die("no flush timing");
        worstLockShare = std::max(worstLockShare, double(timing.longestTableHoldNs) / double(timing.flushNs));
        Database::close();
        store_internal::pausePeriodicFlush(false);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--child-read") == 0)
        return childRead(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "--child-open") == 0)
        return childOpen(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir dir;
    if (!dir.isValid())
        die("no temporary folder");
    workDir = &dir;
    prepareData();

    const auto add = [&](const char *name, void (*function)(benchmark::State &), int iterations = 3) {
        benchmark::RegisterBenchmark(name, function)
            ->Iterations(iterations)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    add("store_open_100k/store_after_plain_read", storeOpen, 5);
    add("store_flush_insert_100k/store", storeFlushInsert);
    add("store_flush_insert_100k/qsqlquery_insert", anchorInsert);
    add("store_flush_insert_100k/sqlite3_insert", anchorInsertSqlite);
    add("store_flush_update_100k/store", storeFlushUpdate);
    add("store_flush_update_100k/qsqlquery_update", anchorUpdate);
    add("store_lock_hold_10k/store_flush", storeLockHold);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto ratio = [](const char *name, const char *project, const char *anchor) {
        const auto p = best.find(project);
        const auto a = best.find(anchor);
        if (p != best.end() && a != best.end() && a->second > 0)
            std::printf("ratio %s %.3f\n", name, p->second / a->second);
    };
    const qint64 fileSize = QFileInfo(folder(QStringLiteral("loaded/database.db"))).size();
    if (openGrowth > 0)
        std::printf("open memory %.1f MB for a file of %.1f MB\n", double(openGrowth) / 1e6, double(fileSize) / 1e6);
    for (const auto &[name, time] : best)
        std::printf("best %-10s %.1f ms\n", name.c_str(), time * 1e3);
    ratio("store_open_100k", "open", "read");
    ratio("store_flush_insert_100k", "insert", "insert-qt");
    ratio("store_flush_insert_100k_vs_sqlite3", "insert", "insert-c");
    ratio("store_flush_update_100k", "update", "update-qt");
    if (openGrowth > 0 && fileSize > 0)
        std::printf("ratio store_open_memory_over_file %.2f\n", double(openGrowth) / double(fileSize));
    if (worstLockShare > 0)
        std::printf("ratio store_lock_hold_10k %.4f\n", worstLockShare);
    return 0;
}
