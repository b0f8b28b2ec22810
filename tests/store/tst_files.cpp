// The file store: cache, names, writes and deletions in the "files" folder.

#include "filesizelimit.h"
#include "storetest.h"
#include "storestatus.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <memory>

namespace {

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
    std::unique_ptr<TempStore> store;
    QString folder; // the data folder, alone inside the test's own folder

    QString onDisk(const QString &name) const { return folder + QStringLiteral("/files/") + name; }

private slots:
    void init()
    {
        store = std::make_unique<TempStore>();
        folder = store->path() + QStringLiteral("/data");
        QVERIFY(Database::open(folder));
        store_internal::pausePeriodicFlush(true);
        // After the clearing of unnamed files, which would take the files
        // that the cases put in place by hand.
        QVERIFY(Database::flush());
    }
    void cleanup()
    {
        store_internal::pausePeriodicFlush(false);
        Database::close();
        store.reset();
    }

    void newFileNames()
    {
        const QRegularExpression letters(QRegularExpression::anchoredPattern(QStringLiteral("[a-y]{8}")));
        QSet<QString> seen;
        for (int i = 0; i < 2000; ++i) {
            const QString name = Database::newFileName(QStringLiteral(".png"));
            QVERIFY(name.endsWith(QStringLiteral(".png")) && letters.match(name.chopped(4)).hasMatch());
            QVERIFY(!seen.contains(name) && isReserved(name));
            seen.insert(name);
        }
        // Any suffix that keeps the name one safe component is kept as given.
        for (const QString suffix : {".JPEG2", "_thumb.jpg", ".abcdefghijk", "png", ".tar.gz"}) {
            const QString name = Database::newFileName(suffix);
            QVERIFY2(name.endsWith(suffix) && letters.match(name.chopped(suffix.size())).hasMatch(),
                     qPrintable(name));
        }
        // Separators, control and reserved characters, a trailing dot or space,
        // or an overlong suffix would make an unsafe name: dropped.
        const QStringList unsafe{"/../../x", ".png/x", ".png\n", ".", ".png ", ".p?g", QString(250, u'x')};
        for (const QString &suffix : unsafe) {
            const QString name = Database::newFileName(suffix);
            QVERIFY2(letters.match(name).hasMatch(), qPrintable(name));
        }
    }

    // Invalid names, and the empty name, get the neutral answer and touch nothing.
    void hostileNames()
    {
        const QStringList names{"", "../evil", "..", ".", "a/b", "/tmp/evil", "a\\b", "c:evil",
                                QString::fromUtf16(u"ev\0il", 5), "ev\nil", "ev\x1bil", QChar(0xD800) + QString("x"),
                                QString(300, QLatin1Char('a'))};
        for (const QString &name : names) {
            QVERIFY2(!Database::isValidFileName(name), qPrintable(name));
            QCOMPARE(Database::setFileData(name, "evil"), QString());
            QVERIFY(Database::fileData(name).isEmpty());
            QVERIFY(!Database::fileExists(name));
            QCOMPARE(Database::fileSize(name), 0);
            QCOMPARE(Database::filePath(name), QString());
            Database::removeFile(name);
        }
        QVERIFY(Database::flush());
        {
            QMutexLocker locker(&store_internal::fileMutex);
            QVERIFY(store_internal::fileCache.isEmpty());
        }
        // Nothing landed anywhere.
        QVERIFY(QDir(folder + QStringLiteral("/files")).isEmpty());
        QCOMPARE(QDir(store->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"data"});
        QVERIFY(Database::isValidFileName(QStringLiteral("abcdefgh.png")));
        QVERIFY(Database::isValidFileName(QStringLiteral("ünïcode name.jpg")));
    }

    // Asking for a file that is not there leaves no trace of it.
    void missingFileStaysMissing()
    {
        const QString name = QStringLiteral("abcdefgh.png");
        QVERIFY(Database::fileData(name).isNull());
        QVERIFY(!Database::fileExists(name));
        QCOMPARE(Database::fileSize(name), 0);
        QVERIFY(writeFile(onDisk(name), "late"));
        QCOMPARE(Database::fileData(name), QByteArray("late"));
    }

    void filesFolderGoneOrBlocked()
    {
        const QString files = folder + QStringLiteral("/files");
        const QString first = Database::storeNewFile("one");
        QVERIFY(Database::flush());
        // Deleted at run time: made again by the next write.
        QVERIFY(QDir(files).removeRecursively());
        const QString second = Database::storeNewFile("two");
        QVERIFY(Database::flush());
        QCOMPARE(readFile(onDisk(second)), QByteArray("two"));
        QCOMPARE(Database::fileData(first), QByteArray("one")); // still cached

        // A plain file where the folder belongs: no write can succeed, and
        // the bytes stay cached and reserved, however old, until one does.
        QVERIFY(QDir(files).removeRecursively());
        QVERIFY(writeFile(files, QByteArray()));
        const QString name = Database::storeNewFile("precious", QStringLiteral(".png"));
        const int skrin = Database::tableId("skrin");
        Database::insertRow(skrin, {{0, 7}, {Database::columnId(skrin, "file"), name}});
        QVERIFY(!Database::flush());
        QVERIFY(!Database::flush());
        QVERIFY(isReserved(name));
        // The row that names the file waits for it, and the failure is told.
        QCOMPARE(RawDb(databaseFile(folder)).text("SELECT count(*) FROM skrin"), QStringLiteral("0"));
        QVERIFY(!StoreStatus::instance()->writeFailure().isEmpty());
        {
            QMutexLocker locker(&store_internal::fileMutex);
            const FileEntry entry = store_internal::fileCache.value(name);
            QVERIFY(!entry.onDisk && entry.writeFailed);
            store_internal::fileCache[name].lastUse = QDateTime::currentDateTime().addSecs(-60);
        }
        QVERIFY(!Database::flush());
        QCOMPARE(Database::fileData(name), QByteArray("precious"));
        QVERIFY(QFile::remove(files));
        QVERIFY(Database::flush());
        QCOMPARE(readFile(onDisk(name)), QByteArray("precious"));
        QVERIFY(!isReserved(name));
        QCOMPARE(RawDb(databaseFile(folder)).text("SELECT file FROM skrin"), name);
        QVERIFY(StoreStatus::instance()->writeFailure().isEmpty());
    }

    void removalWaitsForTheTables()
    {
        const int skrin = Database::tableId("skrin");
        const QString name = Database::storeNewFile("image");
        const int row = Database::insertRow(skrin, {{0, 1}, {Database::columnId(skrin, "file"), name}});
        QVERIFY(Database::flush());
        {
            RawDb other(databaseFile(folder));
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
            Database::removeRow(skrin, row);
            Database::removeFile(name);
            QVERIFY(!Database::flush());
            // The row still names the file in "database.db": the file stays.
            QVERIFY(QFile::exists(onDisk(name)));
            QVERIFY(other.exec("ROLLBACK"));
        }
        QVERIFY(Database::flush());
        QVERIFY(!QFile::exists(onDisk(name)));
    }

    // A file freed and named again before the flush (A -> B -> A) stays,
    // on disk and in the cache.
    void freedFileNamedAgainStays()
    {
        const int skrin = Database::tableId("skrin");
        const int file = Database::columnId(skrin, "file");
        const QString a = Database::storeNewFile("first");
        const int row = Database::insertRow(skrin, {{0, 1}, {file, a}});
        QVERIFY(Database::flush());
        const QString b = Database::storeNewFile("second");
        Database::setValue(skrin, row, file, b);
        Database::removeFile(a);
        Database::setValue(skrin, row, file, a);
        Database::removeFile(b);
        QVERIFY(Database::flush());
        QCOMPARE(readFile(onDisk(a)), QByteArray("first"));
        QCOMPARE(Database::fileData(a), QByteArray("first"));
        QVERIFY(!QFile::exists(onDisk(b)));
    }

    void cacheIsTrimmed()
    {
        const QByteArray mebibyte(1024 * 1024, 'x');
        QStringList names;
        for (int i = 0; i < 60; ++i)
            names.append(Database::storeNewFile(mebibyte));
        QCOMPARE(cachedBytes(), 60 * 1024 * 1024);
        QVERIFY(Database::flush());
        QVERIFY(cachedBytes() <= 52428800);
        for (const QString &name : std::as_const(names))
            QCOMPARE(QFileInfo(onDisk(name)).size(), mebibyte.size());
        QCOMPARE(Database::fileData(names.first()), mebibyte); // read back from disk
    }

    void largeFileSize()
    {
        QFile big(onDisk(QStringLiteral("big.bin")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        const qint64 size = qint64(5) * 1024 * 1024 * 1024 + 3;
        if (!big.resize(size))
            QSKIP("no sparse files here");
        big.close();
        QCOMPARE(Database::fileSize(QStringLiteral("big.bin")), size);
    }

    void writeDuringFlushIsNotLost()
    {
        const QString name = Database::newFileName(QString());
        std::unique_ptr<QThread> writer(QThread::create([name] {
            for (int i = 0; i <= 400; ++i) {
                Database::setFileData(name, QByteArray::number(i).repeated(1000));
                if (i % 50 == 0)
                    Database::startSingleFlush();
            }
        }));
        writer->start();
        while (!writer->isFinished())
            Database::flush();
        writer->wait();
        QVERIFY(Database::flush());
        QCOMPARE(readFile(onDisk(name)), QByteArray::number(400).repeated(1000));
    }

    void fullDiskHoldsTheRowsBack_data()
    {
        QTest::addColumn<bool>("databaseToo");
        QTest::newRow("small file, the database full too") << true;
        QTest::newRow("large file alone") << false;
    }

    // A file counts as written only once every byte is on disk. Until then
    // the rows that name it wait, the failure is told, and no part of it
    // stands under its name.
    void fullDiskHoldsTheRowsBack()
    {
        QFETCH(bool, databaseToo);
        const qint64 limit = databaseToo ? 1024 : QFileInfo(databaseFile(folder)).size() + 256 * 1024;
        const QByteArray bytes(int(databaseToo ? 4000 : limit + 64 * 1024), 'p');
        const QString name = Database::storeNewFile(bytes, ".png");
        const int skrin = Database::tableId("skrin");
        Database::insertRow(skrin, {{0, 1}, {Database::columnId(skrin, "file"), name}});
        {
            const FileSizeLimit full(limit);
            QVERIFY(!Database::flush());
        }
        QVERIFY(!StoreStatus::instance()->writeFailure().isEmpty());
        QVERIFY(!QFile::exists(onDisk(name)));
        QCOMPARE(RawDb(databaseFile(folder)).text("SELECT count(*) FROM skrin"), QStringLiteral("0"));
        QVERIFY(Database::flush());
        QCOMPARE(readFile(onDisk(name)), bytes);
        QCOMPARE(RawDb(databaseFile(folder)).text("SELECT file FROM skrin"), name);
        QVERIFY(StoreStatus::instance()->writeFailure().isEmpty());
        QCOMPARE(QDir(folder + QStringLiteral("/files")).entryList(QDir::Files), QStringList{name});
    }

    void linkInFilesIsNotWrittenThrough()
    {
        const QString target = store->path() + QStringLiteral("/target.txt");
        QVERIFY(writeFile(target, "untouched"));
        QVERIFY(QFile::link(target, onDisk(QStringLiteral("linked"))));
        Database::setFileData(QStringLiteral("linked"), "stored");
        QVERIFY(Database::flush());
        QCOMPARE(readFile(target), QByteArray("untouched"));
        QVERIFY(!QFileInfo(onDisk(QStringLiteral("linked"))).isSymLink());
        QCOMPARE(readFile(onDisk(QStringLiteral("linked"))), QByteArray("stored"));
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
