// What the thumbnail renderer and the sync engine keep beside the items:
// image caches, the download bookkeeping, and dirty screenshots with their
// thumbnail claims, including marks read back after a restart.

#include "dirtyskrins.h"
#include "downloads.h"
#include "enginefixture.h"
#include "engineglobals_p.h"
#include "imagecache.h"

#include <QThread>
#include <QThreadPool>

namespace {

// 2048 x 2048 x 4 = 16 MiB, half the budget.
QImage picture(int width = 2048, int height = 2048) { return QImage(width, height, QImage::Format_RGB32); }

// Sets an entry's store time, so that ages and ties are exact.
void stamp(const QString &file, bool pixmap, const QDateTime &when)
{
    QMutexLocker lock(&imageCacheMutex);
    (pixmap ? pixmapCache[file].lastUse : imageCache[file].lastUse) = when;
}

QStringList cachedNames()
{
    QMutexLocker lock(&imageCacheMutex);
    QStringList names;
    for (const QString &name : imageCache.keys())
        names << "image " + name;
    for (const QString &name : pixmapCache.keys())
        names << "pixmap " + name;
    return names;
}

// Empties the caches, the download queue and the thumbnail claims.
void clearAll()
{
    clearImageCaches();
    clearDownloadQueue();
    StoreLock lock;
    thumbnailsInProgress.clear();
}

void addDownloadRow(const QString &url, Id storedId, const QString &member)
{
    insertRow("downloads", {{"url", url}, {"id", storedId}, {"member", member}});
}

// The stored mark of a screenshot (by stored id), as the table holds it.
QVariant markCell(Id storedId)
{
    const int table = Database::tableId("dirt_skrin");
    return Database::valueWhere(table, QVariantMap{{"id", storedId}}, Database::columnId(table, "modified"));
}

// Moves a screenshot's mark to `when`, as if it had been made then.
void setMark(Id storedId, const QDateTime &when)
{
    const int table = Database::tableId("dirt_skrin");
    const int row = Database::findRow(table, QVariantMap{{"id", storedId}});
    QVERIFY(Database::setValue(table, row, Database::columnId(table, "modified"), when));
}

// A new screenshot marked dirty `ageMs` before `now`.
Id markedSkrin(qint64 ageMs, const QDateTime &now = QDateTime::currentDateTime())
{
    const Id id = createItem("skrin");
    markSkrinDirty(id);
    setMark(id, now.addMSecs(-ageMs));
    return id;
}

std::pair<QDateTime, bool> claim(Id id)
{
    bool claimed = false;
    const QDateTime mark = beginSkrinThumbnail(id, &claimed);
    return {mark, claimed};
}

} // namespace

class TestServices : public EngineTest
{
    Q_OBJECT

    void afterEach() override { clearAll(); }

private slots:
    void storeReadAndRemove()
    {
        store->requests.clear();
        cacheImage("a.png", picture(16, 9));
        cachePixmap("b.png", QPixmap::fromImage(picture(4, 4)));
        QVERIFY(cachedImage("b.png").isNull());
        const QPixmap made = cachedPixmap("a.png"); // made from the cached image once
        QCOMPARE(cachedPixmap("a.png").cacheKey(), made.cacheKey());
        QCOMPARE(cachedNames(), (QStringList{"image a.png", "pixmap a.png", "pixmap b.png"}));
        // Storing a null picture removes the name; every store, this one and
        // the made pixmap included, starts the upkeep.
        cacheImage("a.png", QImage());
        cachePixmap("a.png", QPixmap());
        cachePixmap("b.png", QPixmap());
        QCOMPARE(store->requests.count("cache"), 6);
        cacheImage(QString(), picture(8, 8)); // the empty name is no file
        QVERIFY(cachedNames().isEmpty());
    }

    void poolThreadsGetImagesOnly()
    {
        cacheImage("shared.png", picture(5, 5));
        QSize seen;
        bool pixmapRefused = false;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            seen = cachedImage("shared.png").size();
            cacheImage("rendered.png", picture(3, 3));
            pixmapRefused = cachedPixmap("shared.png").isNull();
        }));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("off the GUI thread"));
        worker->start();
        QVERIFY(worker->wait(10000));
        QCOMPARE(seen, QSize(5, 5));
        QVERIFY(pixmapRefused);
        QCOMPARE(cachedNames(), (QStringList{"image rendered.png", "image shared.png"}));
    }

    void readsDoNotProlongLife()
    {
        const QDateTime stored = QDateTime::currentDateTime();
        cacheImage("a.png", picture(4, 4));
        cachePixmap("b.png", QPixmap::fromImage(picture(4, 4)));
        stamp("a.png", false, stored);
        stamp("b.png", true, stored);
        for (int ms = 0; ms < 3000; ms += 100) {
            QVERIFY(!evictImageCaches(stored.addMSecs(ms)));
            QVERIFY(!cachedImage("a.png").isNull());
            QVERIFY(!cachedPixmap("b.png").isNull());
        }
        QVERIFY(evictImageCaches(stored.addMSecs(3000))); // three whole seconds after the store
        // A new store starts the age over; an entry stamped after `now` (the
        // clock went back) is not kept for ever.
        cacheImage("a.png", picture(4, 4));
        stamp("a.png", false, stored.addSecs(10));
        QVERIFY(!evictImageCaches(stored.addMSecs(12999)));
        QVERIFY(evictImageCaches(stored.addSecs(5)));
    }

    void budgetRemovesOldestThenByNameThenImages()
    {
        const QDateTime t = QDateTime::currentDateTime();
        for (int i = 0; i < 3; ++i) {
            cacheImage(QString::number(i), picture());
            stamp(QString::number(i), false, t.addMSecs(-i));
        }
        // 48 MiB: the oldest goes, and exactly the budget is allowed to stay.
        QVERIFY(!evictImageCaches(t.addMSecs(500)));
        QCOMPARE(cachedNames(), (QStringList{"image 0", "image 1"}));

        clearAll();
        const QPixmap big = QPixmap::fromImage(picture());
        for (const char *name : {"b", "a"}) {
            cacheImage(name, picture());
            cachePixmap(name, big);
            stamp(name, false, t);
            stamp(name, true, t);
        }
        // 64 MiB at one time: name "a" goes first, its image before its pixmap.
        evictImageCaches(t.addSecs(1));
        QCOMPARE(cachedNames(), (QStringList{"image b", "pixmap b"}));
        cacheImage("c", picture()); // 48 MiB: only the first in that order goes
        stamp("c", false, t);
        evictImageCaches(t.addSecs(1));
        QCOMPARE(cachedNames(), (QStringList{"image c", "pixmap b"}));
    }

    // 23171 x 23171 x 4 is just above 2^31: in int arithmetic the total would
    // wrap to a negative number and nothing would be evicted. One bit per
    // pixel keeps the real memory at about 67 MB.
    void hugePictureDoesNotOverflowTheTotal()
    {
        const QImage huge(23171, 23171, QImage::Format_Mono);
        QCOMPARE(imageByteSize(huge), qint64(2147580964));
        const QDateTime t = QDateTime::currentDateTime();
        cacheImage("huge", huge);
        cacheImage("small", picture(10, 10));
        stamp("huge", false, t);
        stamp("small", false, t.addMSecs(1));
        QVERIFY(!evictImageCaches(t.addSecs(1)));
        QCOMPARE(cachedNames(), QStringList{"image small"});
    }

    void queueKeepsOneCopyInFront()
    {
        {
            QMutexLocker lock(&downloadQueueMutex);
            downloadQueue = {"a", "b", "a"};
        }
        QCOMPARE(removeFromDownloadQueue("a"), 2);
        for (const char *url : {"c", "d", "b", ""})
            queueDownloadFirst(url);
        QCOMPARE(queuedDownloads(), (QList<QString>{"b", "d", "c"}));
        QCOMPARE(takeQueuedDownload(), "b");
        QCOMPARE(takeQueuedDownload(), "d");
        QCOMPARE(takeQueuedDownload(), "c");
        QCOMPARE(takeQueuedDownload(), QString());
    }

    // A local value or the item's removal ends a wait; the other members'
    // waits stay, and a translated id is found under its server id.
    void droppingPendingDownloads()
    {
        const Id first = createItem("skrin"), second = createItem("skrin");
        const QString url = "http://127.0.0.1:1/files/shared.jpg";
        addDownloadRow(url, first, "file");
        addDownloadRow(url, first, "thumbnail64_file");
        addDownloadRow(url, second, "file");
        queueDownloadFirst(url);
        setMember(first, "file", "local.jpg");
        QVERIFY(queuedDownloads().isEmpty());
        QCOMPARE(rowsOf("downloads"), 2);
        store->requests.clear();
        QCOMPARE(getMember(second, "file"), QVariant()); // asks for the address again
        QCOMPARE(store->requests.seen().value(0), "download " + url);
        removeItem(first);
        QCOMPARE(rowsWhere("downloads", "id", second).size(), 1);
        QCOMPARE(rowsOf("downloads"), 1);
        QVERIFY(queuedDownloads().isEmpty());
    }

    // Pool threads drop pending downloads while the GUI thread queues and
    // takes addresses; the queue must come out consistent.
    void queueFromManyThreads()
    {
        constexpr int items = 40;
        for (int i = 0; i < items; ++i)
            addDownloadRow(QStringLiteral("u%1").arg(i), createItem("skrin"), "file");
        for (int i = 0; i < items; ++i) {
            const Id id = -1 - i;
            QThreadPool::globalInstance()->start([id] { setMember(id, "file", QStringLiteral("f%1").arg(-id)); });
            if (i % 3 == 0)
                takeQueuedDownload();
            queueDownloadFirst(QStringLiteral("u%1").arg(i));
            queueDownloadFirst("keep");
        }
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(rowsOf("downloads"), 0);
        const QList<QString> left = queuedDownloads();
        QCOMPARE(QSet<QString>(left.cbegin(), left.cend()).size(), left.size());
        QVERIFY(left.contains("keep"));
    }

    // One mark per screenshot, never sent; due only once it has rested (a
    // mark ahead of the clock, so the outcome does not hang on test speed).
    // (Claims, and at most four due oldest first: tst_renderer.)
    void marksComeDueOldestFirst()
    {
        const Id id = createItem("skrin");
        QVERIFY(!isSkrinDirty(id));
        markSkrinDirty(id);
        markSkrinDirty(id);
        QCOMPARE(rowsOf("dirt_skrin"), 1);
        QCOMPARE(rowsWhere("uncommitted_set", "id", id).size(), 0);
        setMark(id, QDateTime::currentDateTime().addSecs(60));
        const Id resting = markedSkrin(5000);
        QCOMPARE(dueDirtySkrins(), QList<Id>{resting});
        QVERIFY(beginSkrinThumbnail(resting, nullptr).isValid()); // the claim's flag is optional
    }

    // The file gives the marks back as text; they are compared as date-times.
    void marksSurviveARestartAndClearAfterIt()
    {
        const Id first = markedSkrin(20123), second = markedSkrin(10456);
        const QDateTime firstMark = markCell(first).toDateTime();
        QVERIFY(store->restart());
        QCOMPARE(markCell(first).typeId(), int(QMetaType::QString));
        QVERIFY(isSkrinDirty(first));
        QCOMPARE(dueDirtySkrins(), (QList<Id>{first, second}));
        // A mark made in this run (a date-time in memory) sorts among them by time.
        const Id third = markedSkrin(30000);
        QCOMPARE(dueDirtySkrins(), (QList<Id>{third, first, second}));

        QCOMPARE(claim(first), std::pair(firstMark, false));
        QVERIFY(claim(first).second); // the text mark is one version, however often it is read
        endSkrinThumbnail(first, firstMark);
        QVERIFY(!isSkrinDirty(first));
        QCOMPARE(dueDirtySkrins(), (QList<Id>{third, second}));
        QVERIFY(store->restart());
        QVERIFY(!isSkrinDirty(first));
        QVERIFY(isSkrinDirty(second) && isSkrinDirty(third));
    }
};

QTEST_MAIN(TestServices)
#include "tst_services.moc"
