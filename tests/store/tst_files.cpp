// The file store: cache, names, writes and deletions in the "files" folder.

#include "database.h"
#include "database_p.h"
#include "storetest.h"
#include "tempstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

namespace {

QString onDisk(const TempStore &store, const QString &name)
{
    return store.path() + QStringLiteral("/files/") + name;
}

qint64 cachedBytes()
{
    QMutexLocker locker(&store_internal::fileMutex);
    qint64 total = 0;
    for (const FileEntry &entry : std::as_const(store_internal::fileCache))
        total += entry.data.size();
    return total;
}

bool isReserved(const QString &name)
{
    QMutexLocker locker(&store_internal::fileMutex);
    return store_internal::reservedNames.contains(name);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        store_internal::pausePeriodicFlush(false);
        Database::close();
    }

    void writeReadAndFlush();
    void removeBeforeFlush();
    void missingAndRemovedFiles();
    void newFileNames();
    void hostileNames_data();
    void hostileNames();
    void filesFolderDeletedAtRunTime();
    void failedWriteIsKeptAndRetried();
    void removalWaitsForTheTables();
    void cacheIsTrimmed();
    void largeFileSize();
    void writeDuringFlushIsNotLost();
    void linkInFilesIsNotWrittenThrough();
};

void TestFiles::writeReadAndFlush()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const QString name = Database::newFileName(QStringLiteral(".png"));
    QCOMPARE(Database::setFileData(name, "first"), name);
    QCOMPARE(Database::fileData(name), QByteArray("first"));
    QCOMPARE(Database::fileSize(name), 5);
    QVERIFY(Database::fileExists(name));
    QVERIFY(!QFile::exists(onDisk(store, name)));
    QCOMPARE(Database::filePath(name), onDisk(store, name));

    QVERIFY(Database::flush());
    QCOMPARE(readFile(onDisk(store, name)), QByteArray("first"));
    QVERIFY(!isReserved(name));
    Database::setFileData(name, "second");
    QVERIFY(Database::flush());
    QCOMPARE(readFile(onDisk(store, name)), QByteArray("second"));

    // Read back from disk after a reopen emptied the cache.
    Database::close();
    QVERIFY(Database::open(store.path()));
    QCOMPARE(Database::fileData(name), QByteArray("second"));
    QCOMPARE(Database::storeNewFile("x", QStringLiteral(".jpg")).right(4), QStringLiteral(".jpg"));
}

void TestFiles::removeBeforeFlush()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const QString name = Database::storeNewFile("old");
    QVERIFY(Database::flush());
    QVERIFY(QFile::exists(onDisk(store, name)));
    Database::setFileData(name, "new");
    Database::removeFile(name);
    QVERIFY(Database::flush());
    QVERIFY(!QFile::exists(onDisk(store, name)));
    QVERIFY(!Database::fileExists(name));
}

void TestFiles::missingAndRemovedFiles()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    QVERIFY(Database::fileData(QStringLiteral("nothere")).isEmpty());
    // The empty entry stands until it expires.
    QVERIFY(Database::fileExists(QStringLiteral("nothere")));
    QCOMPARE(Database::fileSize(QStringLiteral("nothere")), 0);
    QVERIFY(!Database::fileExists(QStringLiteral("neverasked")));
    QVERIFY(Database::fileData(QString()).isEmpty());
    QVERIFY(!Database::fileExists(QString()));
    QCOMPARE(Database::setFileData(QString(), "x"), QString());

    const QString name = Database::storeNewFile("bytes");
    QVERIFY(Database::flush());
    Database::removeFile(name);
    QVERIFY(Database::fileExists(name));
    QCOMPARE(Database::fileSize(name), 0);
    QVERIFY(Database::fileData(name).isEmpty());
    QVERIFY(QFile::exists(onDisk(store, name)));
    QVERIFY(Database::flush());
    QVERIFY(!QFile::exists(onDisk(store, name)));
}

void TestFiles::newFileNames()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const QRegularExpression letters(QRegularExpression::anchoredPattern(QStringLiteral("[a-y]{8}")));
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i) {
        const QString name = Database::newFileName(QStringLiteral(".png"));
        QVERIFY(name.endsWith(QStringLiteral(".png")));
        QVERIFY(letters.match(name.chopped(4)).hasMatch());
        QVERIFY(!seen.contains(name));
        seen.insert(name);
        QVERIFY(isReserved(name));
    }
    // Suffixes that are not a full stop and a few letters or digits are dropped.
    for (const QString &suffix : {QStringLiteral("/../../x"), QStringLiteral(".png/x"), QStringLiteral(".p g"),
                                  QStringLiteral(".abcdefghijk"), QStringLiteral("png"), QStringLiteral(".png\n"),
                                  QStringLiteral(".")}) {
        const QString name = Database::newFileName(suffix);
        QVERIFY2(letters.match(name).hasMatch(), qPrintable(name));
    }
    QCOMPARE(Database::newFileName(QStringLiteral(".JPEG2")).size(), 14);
}

void TestFiles::hostileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent") << QStringLiteral("../evil");
    QTest::newRow("dot dot") << QStringLiteral("..");
    QTest::newRow("dot") << QStringLiteral(".");
    QTest::newRow("slash") << QStringLiteral("a/b");
    QTest::newRow("absolute") << QStringLiteral("/tmp/evil");
    QTest::newRow("backslash") << QStringLiteral("a\\b");
    QTest::newRow("colon") << QStringLiteral("c:evil");
    QTest::newRow("nul") << QString::fromUtf16(u"ev\0il", 5);
    QTest::newRow("newline") << QStringLiteral("ev\nil");
    QTest::newRow("escape") << QStringLiteral("ev\x1bil");
    QTest::newRow("broken utf-16") << QString(QChar(0xD800)) + QStringLiteral("x");
    QTest::newRow("too long") << QString(300, QLatin1Char('a'));
}

void TestFiles::hostileNames()
{
    QFETCH(QString, name);
    TempStore store;
    const QString data = store.path() + QStringLiteral("/data");
    QVERIFY(Database::open(data));
    QVERIFY(!Database::isValidFileName(name));
    QCOMPARE(Database::setFileData(name, "evil"), QString());
    QVERIFY(Database::fileData(name).isEmpty());
    QVERIFY(!Database::fileExists(name));
    QCOMPARE(Database::fileSize(name), 0);
    QCOMPARE(Database::filePath(name), QString());
    Database::removeFile(name);
    QVERIFY(Database::flush());
    {
        QMutexLocker locker(&store_internal::fileMutex);
        QVERIFY(store_internal::fileCache.isEmpty());
    }
    // Nothing landed anywhere.
    QVERIFY(QDir(data + QStringLiteral("/files")).isEmpty());
    QCOMPARE(QDir(store.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("data")});
    QVERIFY(Database::isValidFileName(QStringLiteral("abcdefgh.png")));
    QVERIFY(Database::isValidFileName(QStringLiteral("ünïcode name.jpg")));
}

void TestFiles::filesFolderDeletedAtRunTime()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const QString first = Database::storeNewFile("one");
    QVERIFY(Database::flush());
    QVERIFY(QDir(store.path() + QStringLiteral("/files")).removeRecursively());

    const QString second = Database::storeNewFile("two");
    QVERIFY(Database::flush());
    QCOMPARE(readFile(onDisk(store, second)), QByteArray("two"));
    // The first was cached: still served.
    QCOMPARE(Database::fileData(first), QByteArray("one"));
}

void TestFiles::failedWriteIsKeptAndRetried()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const QString files = store.path() + QStringLiteral("/files");
    QVERIFY(QDir(files).removeRecursively());
    {
        // A plain file where the folder belongs: no write can succeed.
        QFile blocker(files);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    const QString name = Database::storeNewFile("precious", QStringLiteral(".png"));
    QVERIFY(!Database::flush());
    QVERIFY(!Database::flush());
    QCOMPARE(Database::fileData(name), QByteArray("precious"));
    QVERIFY(isReserved(name));
    {
        QMutexLocker locker(&store_internal::fileMutex);
        const FileEntry entry = store_internal::fileCache.value(name);
        QVERIFY(!entry.onDisk);
        QVERIFY(entry.writeFailed);
        // Not expired, however old.
        store_internal::fileCache[name].lastUse = QDateTime::currentDateTime().addSecs(-60);
    }
    QVERIFY(!Database::flush());
    QCOMPARE(Database::fileData(name), QByteArray("precious"));

    QVERIFY(QFile::remove(files));
    QVERIFY(Database::flush());
    QCOMPARE(readFile(onDisk(store, name)), QByteArray("precious"));
    QVERIFY(!isReserved(name));
}

void TestFiles::removalWaitsForTheTables()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const int skrin = Database::tableId(QStringLiteral("skrin"));
    const int fileColumn = Database::columnId(skrin, QStringLiteral("file"));
    const QString name = Database::storeNewFile("image");
    const int row = Database::insertRow(skrin, {{0, 1}, {fileColumn, name}});
    QVERIFY(Database::flush());

    {
        RawDb other(store.path() + QStringLiteral("/database.db"));
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        Database::removeRow(skrin, row);
        Database::removeFile(name);
        QVERIFY(!Database::flush());
        // The row still names the file in "database.db": the file stays.
        QVERIFY(QFile::exists(onDisk(store, name)));
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
    }
    QVERIFY(Database::flush());
    QVERIFY(!QFile::exists(onDisk(store, name)));
}

void TestFiles::cacheIsTrimmed()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    store_internal::pausePeriodicFlush(true);
    const QByteArray mebibyte(1024 * 1024, 'x');
    QStringList names;
    for (int i = 0; i < 60; ++i)
        names.append(Database::storeNewFile(mebibyte));
    QCOMPARE(cachedBytes(), 60 * 1024 * 1024);
    QVERIFY(Database::flush());
    QVERIFY(cachedBytes() <= 52428800);
    for (const QString &name : std::as_const(names))
        QCOMPARE(QFileInfo(onDisk(store, name)).size(), mebibyte.size());
    // Dropped entries are read back from disk.
    QCOMPARE(Database::fileData(names.first()), mebibyte);
}

void TestFiles::largeFileSize()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    QFile big(onDisk(store, QStringLiteral("big.bin")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    const qint64 size = qint64(5) * 1024 * 1024 * 1024 + 3;
    if (!big.resize(size))
        QSKIP("no sparse files here");
    big.close();
    QCOMPARE(Database::fileSize(QStringLiteral("big.bin")), size);
}

void TestFiles::writeDuringFlushIsNotLost()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const QString name = Database::newFileName(QString());
    QThread *writer = QThread::create([name] {
        for (int i = 0; i <= 400; ++i) {
            Database::setFileData(name, QByteArray::number(i).repeated(1000));
            if (i % 50 == 0)
                Database::startSingleFlush();
        }
    });
    writer->start();
    while (!writer->isFinished())
        Database::flush();
    writer->wait();
    delete writer;
    QVERIFY(Database::flush());
    QCOMPARE(readFile(onDisk(store, name)), QByteArray::number(400).repeated(1000));
}

void TestFiles::linkInFilesIsNotWrittenThrough()
{
    TempStore store;
    QVERIFY(Database::open(store.path()));
    const QString target = store.path() + QStringLiteral("/target.txt");
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("untouched");
    }
    QVERIFY(QFile::link(target, onDisk(store, QStringLiteral("linked"))));
    Database::setFileData(QStringLiteral("linked"), "stored");
    QVERIFY(Database::flush());
    QCOMPARE(readFile(target), QByteArray("untouched"));
    QVERIFY(!QFileInfo(onDisk(store, QStringLiteral("linked"))).isSymLink());
    QCOMPARE(readFile(onDisk(store, QStringLiteral("linked"))), QByteArray("stored"));
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
