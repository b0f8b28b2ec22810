// Image caches (expiry, budget, pixmaps kept off pool threads) and the
// download bookkeeping (queue, pending rows, transfers).

#include "downloads.h"
#include "enginefixture.h"
#include "imagecache.h"

#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>

namespace {

constexpr int side = 2048; // 2048 x 2048 x 4 = 16 MiB, half the budget

QImage picture(int width = side, int height = side)
{
    return QImage(width, height, QImage::Format_RGB32);
}

// Sets an entry's store time, so that ages and ties are exact.
void stamp(const QString &file, bool pixmap, const QDateTime &when)
{
    QMutexLocker lock(&imageCacheMutex);
    if (pixmap)
        pixmapCache[file].lastUse = when;
    else
        imageCache[file].lastUse = when;
}

QStringList cachedNames()
{
    QMutexLocker lock(&imageCacheMutex);
    QStringList names;
    for (auto it = imageCache.cbegin(); it != imageCache.cend(); ++it)
        names << QStringLiteral("image ") + it.key();
    for (auto it = pixmapCache.cbegin(); it != pixmapCache.cend(); ++it)
        names << QStringLiteral("pixmap ") + it.key();
    return names;
}

void clearCaches()
{
    QMutexLocker lock(&imageCacheMutex);
    imageCache.clear();
    pixmapCache.clear();
}

void clearQueue()
{
    QMutexLocker lock(&downloadQueueMutex);
    downloadQueue.clear();
}

void addDownloadRow(const QString &url, Id storedId, const QString &member)
{
    const int table = Database::tableId(QStringLiteral("downloads"));
    Database::insertRow(table, {{Database::columnId(table, QStringLiteral("url")), url},
                                {Database::columnId(table, QStringLiteral("id")), QVariant(storedId)},
                                {Database::columnId(table, QStringLiteral("member")), member}});
}

const QString fileMember = QStringLiteral("file");

} // namespace

class TestCaches : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void storingNullRemovesTheName();
    void pixmapsAreMadeFromImagesOnce();
    void poolThreadsGetImagesOnly();
    void readsDoNotProlongLife();
    void budgetRemovesOldestFirst();
    void budgetTiesByNameThenImagesFirst();
    void hugePictureDoesNotOverflowTheTotal();

    void queueKeepsOneCopyInFront();
    void droppingOnePendingDownloadOfTwo();
    void droppingFindsTranslatedIds();
    void queueFromManyThreads();

private:
    EngineStore *store = nullptr;
};

void TestCaches::init()
{
    store = new EngineStore;
    QVERIFY(store->opened);
    clearCaches();
    clearQueue();
    transfersByConnection.clear();
}

void TestCaches::cleanup()
{
    clearCaches();
    clearQueue();
    transfersByConnection.clear();
    delete store;
    store = nullptr;
}

void TestCaches::storingNullRemovesTheName()
{
    QSignalSpy timerStarts(TavrinConnector::instance(), &TavrinConnector::imageCacheTimerStartSignal);
    cacheImage(QStringLiteral("a.jpg"), picture(8, 8));
    cachePixmap(QStringLiteral("a.jpg"), QPixmap::fromImage(picture(8, 8)));
    QCOMPARE(timerStarts.size(), 2);
    QCOMPARE(cachedImage(QStringLiteral("a.jpg")).size(), QSize(8, 8));

    cacheImage(QStringLiteral("a.jpg"), QImage());
    cachePixmap(QStringLiteral("a.jpg"), QPixmap());
    QCOMPARE(timerStarts.size(), 4); // a removal still starts the upkeep
    QVERIFY(cachedImage(QStringLiteral("a.jpg")).isNull());
    QVERIFY(cachedPixmap(QStringLiteral("a.jpg")).isNull());
    QVERIFY(cachedNames().isEmpty());

    // The empty name is no file.
    cacheImage(QString(), picture(8, 8));
    QVERIFY(cachedNames().isEmpty());
    QVERIFY(evictImageCaches(QDateTime::currentDateTime()));
}

void TestCaches::pixmapsAreMadeFromImagesOnce()
{
    cacheImage(QStringLiteral("only-image.png"), picture(16, 9));
    const QPixmap made = cachedPixmap(QStringLiteral("only-image.png"));
    QCOMPARE(made.size(), QSize(16, 9));
    QCOMPARE(cachedNames(), (QStringList{QStringLiteral("image only-image.png"), QStringLiteral("pixmap only-image.png")}));
    QCOMPARE(cachedPixmap(QStringLiteral("only-image.png")).cacheKey(), made.cacheKey());

    cachePixmap(QStringLiteral("only-pixmap.png"), QPixmap::fromImage(picture(4, 4)));
    QVERIFY(cachedImage(QStringLiteral("only-pixmap.png")).isNull());
    QCOMPARE(cachedNames().size(), 3);
    QVERIFY(cachedPixmap(QStringLiteral("missing.png")).isNull());
    QCOMPARE(cachedNames().size(), 3);
}

void TestCaches::poolThreadsGetImagesOnly()
{
    cacheImage(QStringLiteral("shared.png"), picture(5, 5));
    QSize seen;
    bool pixmapRefused = false;
    QThread *worker = QThread::create([&] {
        seen = cachedImage(QStringLiteral("shared.png")).size();
        cacheImage(QStringLiteral("rendered.png"), picture(3, 3));
        pixmapRefused = cachedPixmap(QStringLiteral("shared.png")).isNull();
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("off the GUI thread")));
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QCOMPARE(seen, QSize(5, 5));
    QVERIFY(pixmapRefused);
    // No pixmap was made off the GUI thread.
    QCOMPARE(cachedNames(), (QStringList{QStringLiteral("image rendered.png"), QStringLiteral("image shared.png")}));
}

void TestCaches::readsDoNotProlongLife()
{
    const QDateTime stored = QDateTime::currentDateTime();
    cacheImage(QStringLiteral("a.png"), picture(4, 4));
    cachePixmap(QStringLiteral("b.png"), QPixmap::fromImage(picture(4, 4)));
    stamp(QStringLiteral("a.png"), false, stored);
    stamp(QStringLiteral("b.png"), true, stored);

    for (int ms = 0; ms < 3000; ms += 100) {
        QVERIFY(!evictImageCaches(stored.addMSecs(ms)));
        QVERIFY(!cachedImage(QStringLiteral("a.png")).isNull());
        QVERIFY(!cachedPixmap(QStringLiteral("b.png")).isNull());
    }
    QCOMPARE(cachedNames().size(), 2);
    // Three whole seconds after the store, reads or not, both are gone.
    QVERIFY(evictImageCaches(stored.addMSecs(3000)));
    QVERIFY(cachedNames().isEmpty());

    // A new store starts the age over.
    cacheImage(QStringLiteral("a.png"), picture(4, 4));
    stamp(QStringLiteral("a.png"), false, stored.addSecs(10));
    QVERIFY(!evictImageCaches(stored.addMSecs(12999)));
    // An entry stamped after `now` (the clock went back) is not kept for ever.
    QVERIFY(evictImageCaches(stored.addSecs(5)));
}

void TestCaches::budgetRemovesOldestFirst()
{
    const QDateTime t = QDateTime::currentDateTime();
    const QStringList names{QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")};
    for (int i = 0; i < 3; ++i) {
        cacheImage(names.at(i), picture());
        stamp(names.at(i), false, t.addMSecs(i * 10));
    }
    // 48 MiB: the oldest goes, and exactly the budget is allowed to stay.
    QVERIFY(!evictImageCaches(t.addMSecs(500)));
    QCOMPARE(cachedNames(), (QStringList{QStringLiteral("image b"), QStringLiteral("image c")}));

    clearCaches();
    for (int i = 0; i < 4; ++i) {
        cacheImage(names.at(i), picture());
        stamp(names.at(i), false, t.addMSecs(i * 10));
    }
    evictImageCaches(t.addMSecs(500));
    QCOMPARE(cachedNames(), (QStringList{QStringLiteral("image a"), QStringLiteral("image b")}));
}

void TestCaches::budgetTiesByNameThenImagesFirst()
{
    const QDateTime t = QDateTime::currentDateTime();
    const QPixmap big = QPixmap::fromImage(picture());
    for (const QString &name : {QStringLiteral("b"), QStringLiteral("a")}) {
        cacheImage(name, picture());
        cachePixmap(name, big);
        stamp(name, false, t);
        stamp(name, true, t);
    }
    // 64 MiB at one time: name "a" goes first, its image before its pixmap.
    evictImageCaches(t.addSecs(1));
    QCOMPARE(cachedNames(), (QStringList{QStringLiteral("image b"), QStringLiteral("pixmap b")}));

    // Three of 16 MiB: only the first in that order goes.
    clearCaches();
    cachePixmap(QStringLiteral("a"), big);
    cacheImage(QStringLiteral("a"), picture());
    cacheImage(QStringLiteral("b"), picture());
    stamp(QStringLiteral("a"), true, t);
    stamp(QStringLiteral("a"), false, t);
    stamp(QStringLiteral("b"), false, t);
    evictImageCaches(t.addSecs(1));
    QCOMPARE(cachedNames(), (QStringList{QStringLiteral("image b"), QStringLiteral("pixmap a")}));
}

void TestCaches::hugePictureDoesNotOverflowTheTotal()
{
    // 23171 x 23171 x 4 is just above 2^31: in int arithmetic the total would
    // wrap to a negative number and nothing would be evicted. One bit per
    // pixel keeps the real memory at about 67 MB.
    const QImage huge(23171, 23171, QImage::Format_Mono);
    QVERIFY(!huge.isNull());
    QCOMPARE(imageByteSize(huge), qint64(2147580964));
    const QDateTime t = QDateTime::currentDateTime();
    cacheImage(QStringLiteral("huge"), huge);
    cacheImage(QStringLiteral("small"), picture(10, 10));
    stamp(QStringLiteral("huge"), false, t);
    stamp(QStringLiteral("small"), false, t.addMSecs(1));
    QVERIFY(!evictImageCaches(t.addSecs(1)));
    QCOMPARE(cachedNames(), QStringList{QStringLiteral("image small")});
}

void TestCaches::queueKeepsOneCopyInFront()
{
    QCOMPARE(removeFromDownloadQueue(QStringLiteral("http://127.0.0.1:1/a")), 0);
    {
        QMutexLocker lock(&downloadQueueMutex);
        downloadQueue = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a")};
    }
    QCOMPARE(removeFromDownloadQueue(QStringLiteral("a")), 2);
    QCOMPARE(queuedDownloads(), QList<QString>{QStringLiteral("b")});

    queueDownloadFirst(QStringLiteral("c"));
    queueDownloadFirst(QStringLiteral("d"));
    queueDownloadFirst(QStringLiteral("b"));
    queueDownloadFirst(QString());
    QCOMPARE(queuedDownloads(), (QList<QString>{QStringLiteral("b"), QStringLiteral("d"), QStringLiteral("c")}));
    QCOMPARE(takeQueuedDownload(), QStringLiteral("b"));
    QCOMPARE(takeQueuedDownload(), QStringLiteral("d"));
    QCOMPARE(takeQueuedDownload(), QStringLiteral("c"));
    QCOMPARE(takeQueuedDownload(), QString());

    // A request that carries no files.
    QVERIFY(transferItems(3).isEmpty());
}

void TestCaches::droppingOnePendingDownloadOfTwo()
{
    const Id first = createItem(QStringLiteral("skrin"));
    const Id second = createItem(QStringLiteral("skrin"));
    const QString url = QStringLiteral("http://127.0.0.1:1/files/shared.jpg");
    addDownloadRow(url, first, fileMember);
    addDownloadRow(url, first, QStringLiteral("thumbnail64_file"));
    addDownloadRow(url, second, fileMember);
    queueDownloadFirst(url);

    // Setting the member locally ends its wait.
    setMember(first, fileMember, QStringLiteral("local.jpg"));
    QVERIFY(queuedDownloads().isEmpty());
    QCOMPARE(rowsOf("downloads"), 2);
    QCOMPARE(rowsWhere("downloads", "id", QVariant(second)).size(), 1);

    // The other member's next read asks for the address again.
    QSignalSpy asked(TavrinConnector::instance(), &TavrinConnector::downloadFileSignal);
    QCOMPARE(getMember(second, fileMember), QVariant());
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().first().toString(), url);

    // Removing the item ends every wait it had.
    removeItem(first);
    QCOMPARE(rowsOf("downloads"), 1);
}

void TestCaches::droppingFindsTranslatedIds()
{
    const Id local = createItem(QStringLiteral("skrin_image"));
    translateId(local, 4711);
    const QString url = QStringLiteral("http://127.0.0.1:1/files/new.png");
    addDownloadRow(url, 4711, fileMember);
    queueDownloadFirst(QStringLiteral("http://127.0.0.1:1/files/other.png"));
    queueDownloadFirst(url);

    {
        QMutexLocker lock(&storeMutex);
        dropPendingDownloads(local, fileMember);
    }
    QCOMPARE(rowsOf("downloads"), 0);
    QCOMPARE(queuedDownloads(), QList<QString>{QStringLiteral("http://127.0.0.1:1/files/other.png")});
}

void TestCaches::queueFromManyThreads()
{
    // Pool threads drop pending downloads while the GUI thread queues and
    // takes addresses; the queue must come out consistent.
    constexpr int items = 40;
    QList<Id> ids;
    for (int i = 0; i < items; ++i) {
        ids.append(createItem(QStringLiteral("skrin")));
        addDownloadRow(QStringLiteral("u%1").arg(i), ids.last(), fileMember);
    }
    for (int i = 0; i < items; ++i) {
        const Id id = ids.at(i);
        QThreadPool::globalInstance()->start([id] { setMember(id, fileMember, QStringLiteral("f%1").arg(-id)); });
        if (i % 3 == 0)
            takeQueuedDownload();
        queueDownloadFirst(QStringLiteral("u%1").arg(i));
        queueDownloadFirst(QStringLiteral("keep"));
    }
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(rowsOf("downloads"), 0);
    const QList<QString> left = queuedDownloads();
    QCOMPARE(left.count(QStringLiteral("keep")), 1);
    for (const QString &url : left)
        QCOMPARE(left.count(url), 1);
}

QTEST_MAIN(TestCaches)
#include "tst_caches.moc"
