// A writer process killed at random moments: the store must reopen with
// whole rows only, every file a row names must be there with its bytes, and
// no other file may stay.
//
// The test starts its own executable with "--writer-child", which writes rows
// and files in a loop until it is killed.

#include "storetest.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace {

// Columns of `skrin` that the child writes; a row without `check` was torn.
struct Columns
{
    int table = Database::tableId(QStringLiteral("skrin"));
    int id = Database::columnId(table, QStringLiteral("id"));
    int title = Database::columnId(table, QStringLiteral("title"));
    int file = Database::columnId(table, QStringLiteral("file"));
    int passwordHash = Database::columnId(table, QStringLiteral("password_hash"));
    int check = Database::columnId(table, QStringLiteral("customize"));
};

QString sha1(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

QString rowCheck(qint64 id, const QString &title, const QString &file, const QByteArray &bytes)
{
    return sha1(QByteArray::number(id) + '|' + title.toUtf8() + '|' + file.toUtf8() + '|' + sha1(bytes).toLatin1());
}

QString selfChecked(int value)
{
    return QStringLiteral("%1:%2").arg(value).arg(sha1(QByteArray::number(value)));
}

int randomRow(QRandomGenerator &random, int table)
{
    const RowCursor rows = Database::allRows(table);
    return rows.rows.isEmpty() ? 0 : rows.rows.at(random.bounded(int(rows.rows.size())));
}

// Odd ids are never removed, so the parent can check that the last one
// reported as flushed survived the kill.
int runWriterChild(const QString &folder, quint32 seed)
{
    if (!Database::open(folder))
        return 2;
    const Columns c;
    qint64 nextId = 1;
    RowCursor all = Database::allRows(c.table);
    while (all.next())
        nextId = std::max(nextId, Database::value(all, c.id).toLongLong() + 1);
    QRandomGenerator random(seed);
    qint64 lastOdd = 0;
    std::puts("ready");
    std::fflush(stdout);
    for (;;) {
        const int op = int(random.bounded(100));
        if (op < 55) {
            QByteArray bytes(int(random.bounded(16 * 1024)) + 1, Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            const QString name = Database::storeNewFile(bytes, QStringLiteral(".png"));
            const QString title = QStringLiteral("title %1 ").arg(random.generate()).repeated(int(random.bounded(5)));
            const qint64 id = nextId++;
            Database::insertRow(c.table, {{c.id, id}, {c.title, title}, {c.file, name},
                                          {c.check, rowCheck(id, title, name, bytes)}});
            lastOdd = id % 2 == 1 ? id : lastOdd;
        } else if (op < 75) {
            if (const int row = randomRow(random, c.table))
                Database::setValue(c.table, row, c.passwordHash, selfChecked(int(random.bounded(1000000))));
        } else if (op < 90) {
            const int row = randomRow(random, c.table);
            if (row && Database::value(c.table, row, c.id).toLongLong() % 2 == 0) {
                // The row first: the file may go only once no row names it.
                const QString name = Database::value(c.table, row, c.file).toString();
                Database::removeRow(c.table, row);
                Database::removeFile(name);
            }
        } else {
            const qint64 durable = lastOdd;
            if (Database::flush())
                std::printf("flushed %lld\n", qlonglong(durable));
            std::fflush(stdout);
        }
        QThread::usleep(500);
    }
}

// Removes the row with id 1 and its file, gives the row with id 2 a new
// file, sweeps, and ends at once, as a crash would: nothing is flushed after
// the sweep.
int runSweepChild(const QString &folder)
{
    Database::setOrphanSweepAtOpen(false);
    if (!Database::open(folder))
        return 2;
    store_internal::pausePeriodicFlush(true);
    const Columns c;
    const int first = Database::findRow(c.table, c.id, 1);
    const QString firstFile = Database::value(c.table, first, c.file).toString();
    Database::removeRow(c.table, first);
    Database::removeFile(firstFile);
    Database::setValue(c.table, Database::findRow(c.table, c.id, 2), c.file, Database::storeNewFile("new", ".png"));
    Database::startOrphanSweep();
    store_internal::waitForOrphanSweep();
    std::_Exit(0);
}

// Starts this executable as a writer on `folder` and waits until it works.
void startWriterChild(QProcess &child, const QString &folder, quint32 seed, QByteArray &output)
{
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--writer-child"), folder, QString::number(seed)});
    QVERIFY(child.waitForStarted(10000));
    while (!output.contains("ready\n")) {
        QVERIFY2(child.waitForReadyRead(30000), "the writer did not start");
        output += child.readAllStandardOutput();
    }
}

} // namespace

class TestKill : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesWholeRows()
    {
        TempStore store;
        QRandomGenerator random(20240601);
        qint64 rowsSeen = 0;
        for (int kill = 0; kill < 10; ++kill) {
            QProcess child;
            QByteArray output;
            startWriterChild(child, store.path(), random.generate(), output);
            QThread::msleep(50 + random.bounded(650));
            child.kill();
            QVERIFY(child.waitForFinished(10000));
            output += child.readAllStandardOutput();
            qint64 durable = 0;
            for (const QByteArray &line : output.split('\n')) {
                if (line.startsWith("flushed "))
                    durable = line.mid(8).toLongLong();
            }

            QString error;
            QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
            const Columns c;
            bool durableFound = durable == 0;
            QStringList named;
            RowCursor rows = Database::allRows(c.table);
            while (rows.next()) {
                const qint64 id = Database::value(rows, c.id).toLongLong();
                const QString file = Database::value(rows, c.file).toString();
                const QVariant check = Database::value(rows, c.check);
                QVERIFY2(!isNullValue(check), qPrintable(QStringLiteral("row %1 is torn").arg(id)));
                named.append(file);
                durableFound = durableFound || id == durable;
                QVERIFY2(QFile::exists(Database::filePath(file)), qPrintable(file));
                QCOMPARE(check.toString(), rowCheck(id, Database::value(rows, c.title).toString(), file,
                                                    Database::fileData(file)));
                const QString hash = Database::value(rows, c.passwordHash).toString();
                if (!hash.isEmpty())
                    QCOMPARE(hash, selfChecked(hash.section(QLatin1Char(':'), 0, 0).toInt()));
                ++rowsSeen;
            }
            // The files of rows that never committed are swept away after open.
            QVERIFY(Database::flush());
            store_internal::waitForOrphanSweep();
            named.sort();
            QCOMPARE(QDir(store.path() + QStringLiteral("/files")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                     named);
            QVERIFY2(durableFound, qPrintable(QStringLiteral("row %1 was reported flushed").arg(durable)));
            Database::close();
        }
        QVERIFY(rowsSeen > 0);
    }

    // The sweep deletes a file only once the change that frees it is
    // committed: a crash right after it leaves every file that the
    // committed rows name. A file deleted leaves the store's list of its
    // files at once: a user's file put under its name after the crash (a
    // "files" folder restored from a backup) is not the store's, and stays.
    void sweepWaitsForTheCommit()
    {
        TempStore store;
        QVERIFY(Database::open(store.path()));
        const Columns c;
        QStringList before;
        for (const qint64 id : {1, 2}) {
            before.append(Database::storeNewFile(QByteArray::number(id), QStringLiteral(".png")));
            Database::insertRow(c.table, {{c.id, id}, {c.file, before.last()}});
        }
        QVERIFY(Database::close());
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--sweep-child"), store.path()});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);

        // Those freed by the committed change went; the user's come.
        const QString files = store.path() + QStringLiteral("/files/");
        QStringList freed;
        for (const QString &file : std::as_const(before)) {
            if (!QFile::exists(files + file)) {
                freed.append(file);
                QVERIFY(writeFile(files + file, "restored"));
            }
        }
        QCOMPARE(freed.size(), 2);
        QVERIFY(Database::open(store.path()));
        store_internal::waitForOrphanSweep();
        QVERIFY(Database::rowCount(c.table) > 0);
        for (RowCursor rows = Database::allRows(c.table); rows.next();) {
            const QString file = Database::value(rows, c.file).toString();
            QVERIFY2(QFile::exists(Database::filePath(file)) && !freed.contains(file), qPrintable(file));
        }
        for (const QString &file : std::as_const(freed))
            QCOMPARE(readFile(files + file), QByteArray("restored"));
        Database::close();
    }

    // One process at a time per data folder: a second open is refused with
    // the reason while the first lives, and succeeds once it has died.
    void secondProcessIsRefused()
    {
        TempStore store;
        QProcess child;
        QByteArray output;
        startWriterChild(child, store.path(), 1, output);
        QString error;
        QVERIFY(!Database::open(store.path(), &error));
        QVERIFY2(error.contains(QStringLiteral("in use by another program")), qPrintable(error));
        QVERIFY(!Database::isOpen());
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
        Database::close();
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc >= 4 && qstrcmp(argv[1], "--writer-child") == 0)
        return runWriterChild(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toUInt());
    if (argc >= 3 && qstrcmp(argv[1], "--sweep-child") == 0)
        return runSweepChild(QString::fromLocal8Bit(argv[2]));
    TestKill test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kill.moc"
