// The engine's services beside the items: server options, account values,
// share handles and addresses, the password hash and the syntax checks; image
// caches, the download bookkeeping and dirty screenshots' marks.

#include "dirtyskrins.h"
#include "downloads.h"
#include "enginefixture.h"
#include "engineglobals_p.h"
#include "imagecache.h"
#include "pictures.h"
#include "serveroptions.h"
#include "shareaddress.h"
#include "storedtime.h"
#include "zonescope.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QRandomGenerator>
#include <QThread>
#include <QThreadPool>

#include <limits>


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
    guarded(lock).thumbnailsInProgress.clear();
}

// The picture loads under way and the failed ones.
QSet<QString> loadingImages()
{
    StoreLock lock;
    return guarded(lock).loadingImages;
}
QSet<QString> failedImages()
{
    StoreLock lock;
    return guarded(lock).failedImages;
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

// A server option as a commit answer leaves it: an items row and a
// server_option row under a server id, nothing uncommitted.
void storeServerOption(Id id, const QString &name, const QVariant &value)
{
    insertRow("items", {{"id", id}, {"type", "server_option"}, {"owner", qint64(7)}});
    insertRow("server_option", {{"id", id}, {"name", name}, {"value", value}});
}

QList<Id> optionIds(const QString &name)
{
    QList<Id> ids = findItems({{"type", "server_option"}, {"name", name}});
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

class TestServices : public EngineTest
{
    Q_OBJECT

    void afterEach() override { clearAll(); }

private slots:
    void storeReadAndRemove()
    {
        cacheImage("a.png", picture(16, 9));
        cachePixmap("b.png", QPixmap::fromImage(picture(4, 4)));
        QVERIFY(cachedImage("b.png").isNull());
        const QPixmap made = cachedPixmap("a.png"); // made from the cached image once
        QCOMPARE(cachedPixmap("a.png").cacheKey(), made.cacheKey());
        QCOMPARE(cachedNames(), (QStringList{"image a.png", "pixmap a.png", "pixmap b.png"}));
        // Storing a null picture removes the name, and still starts the
        // upkeep, which stops once both caches are empty.
        cacheImage("a.png", QImage());
        cachePixmap("a.png", QPixmap());
        cachePixmap("b.png", QPixmap());
        imageCacheUpkeep();
        QVERIFY(!isImageCacheUpkeepRunning());
        cachePixmap("b.png", QPixmap());
        QVERIFY(isImageCacheUpkeepRunning());
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

    // Stored pictures load in the background whether a sync engine runs or not.
    void storedPicturesLoadWithoutSync()
    {
        registerSyncService(nullptr);
        const Id skrin = createItem("skrin");
        setMemberFile(skrin, "file", encoded(picture(5, 5)));
        InterfaceRecorder recorder;
        recorder.watch({{"type", "skrin"}});
        QVERIFY(itemPixmap(skrin, "file").isNull()); // starts the load
        QTRY_VERIFY(!itemPixmap(skrin, "file").isNull());
        QCOMPARE(itemPixmap(skrin, "file").width(), 5);
        QVERIFY(cachedImage(getMember(skrin, "file").toString()).isNull()); // handed over as a pixmap only
        QTRY_VERIFY(recorder.events.contains(QStringLiteral("set %1 file=%loaded%").arg(skrin)));
        QVERIFY(isImageCacheUpkeepRunning());
        QVERIFY(loadingImages().isEmpty());

        // A file that is no picture fails once and is not tried again.
        const Id broken = createItem("skrin");
        setMemberFile(broken, "file", "no picture");
        const QString brokenName = getMember(broken, "file").toString();
        loadImageAsync(brokenName);
        QTRY_VERIFY(failedImages().contains(brokenName));
        loadImageAsync(brokenName);
        QVERIFY(!loadingImages().contains(brokenName));

        // The upkeep stops once the caches are empty; forgetting the loads
        // lets a failed file be tried again.
        QVERIFY(evictImageCaches(QDateTime::currentDateTime().addSecs(10)));
        imageCacheUpkeep();
        QVERIFY(!isImageCacheUpkeepRunning());
        forgetImageLoads();
        QVERIFY(failedImages().isEmpty());
    }

    // At quit the application drops the calls still queued: a decoded picture
    // waiting in one is freed with it (the leak shows in the sanitizer build).
    void droppedDeliveryFreesThePicture()
    {
        const Id skrin = createItem("skrin");
        setMemberFile(skrin, "file", encoded(picture(640, 120)));
        const QString name = getMember(skrin, "file").toString();
        loadImageAsync(name);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCoreApplication::removePostedEvents(QCoreApplication::instance());
        QCoreApplication::processEvents();
        QVERIFY(loadingImages().contains(name)); // never delivered
        forgetImageLoads();
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

    // The file gives the marks back as the date-times they were (in UTC);
    // they are compared as date-times.
    void marksSurviveARestartAndClearAfterIt()
    {
        const Id first = markedSkrin(20123), second = markedSkrin(10456);
        const QDateTime firstMark = markCell(first).toDateTime();
        QVERIFY(store->restart());
        QCOMPARE(markCell(first).typeId(), int(QMetaType::QDateTime));
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

    // A new name gets one item, a known name has every item written; an equal
    // value records nothing, and a name is required.
    void settingServerOptions()
    {
        setServerOption("quality", 90);
        QCOMPARE(optionIds("quality"), QList<Id>{-1});
        const auto recorded = rowsWhere("uncommitted_set", "member", "value");
        setServerOption("quality", 90);
        QCOMPARE(rowsWhere("uncommitted_set", "member", "value"), recorded);
        storeServerOption(40, "ext", ".png");
        storeServerOption(41, "ext", ".bmp");
        setServerOption("ext", ".jpg");
        QCOMPARE(getMember(40, "value").toString() + getMember(41, "value").toString(), ".jpg.jpg");
        QCOMPARE(rowsOf("uncommitted_create"), 1);
        for (const QString &name : {QString(), QString("")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("without a name"));
            setServerOption(name, 1);
        }
        QCOMPARE(rowsOf("server_option"), 3);
    }

    // Every client must keep the same copy, or two clients would each remove
    // the other's and lose the option: the smallest server id stays, and a
    // copy the server has not seen yet gives way to one it has. The others go
    // to the service as removals. Two rows carrying one id are one item:
    // removing "the duplicate" would take the kept option with it.
    void duplicatesKeepTheSmallestServerId()
    {
        storeServerOption(50, "quality", 60);
        storeServerOption(20, "quality", 70);
        storeServerOption(30, "Quality", 75);
        setServerOption("view", "{}");
        setServerOption("ext", ".png");
        storeServerOption(70, "quality", 80);
        storeServerOption(40, "ext", ".jpg");
        storeServerOption(60, "lang", "pl");
        insertRow("server_option", {{"id", Id(60)}, {"name", "lang"}});
        store->requests.clear();
        removeDuplicateServerOptions();
        QCOMPARE(optionIds("quality"), QList<Id>{20});
        QCOMPARE(optionIds("Quality"), QList<Id>{30});
        QCOMPARE(optionIds("view"), QList<Id>{-1});
        QCOMPARE(optionIds("ext"), QList<Id>{40});
        QCOMPARE(itemType(60), "server_option");
        QCOMPARE(serverOptionValue("quality").toInt(), 70);
        QCOMPARE(rowsOf("uncommitted_remove"), 3);
        for (const Id removed : {Id(50), Id(70), Id(-2)})
            QCOMPARE(rowsWhere("uncommitted_remove", "id", removed).size(), 1);
        QCOMPARE(store->requests.count("commit"), 0); // no store operation asks for a commit itself
    }

    void accountExpiry_data()
    {
        QTest::addColumn<QVariant>("userType");
        QTest::addColumn<QVariant>("daysLeft");
        QTest::addColumn<bool>("paid");
        QTest::addColumn<bool>("expired");
        QTest::newRow("no options") << QVariant() << QVariant() << false << false;
        QTest::newRow("text type") << QVariant("pro") << QVariant(3) << false << false;
        QTest::newRow("paid, days left") << QVariant(1) << QVariant(12) << true << false;
        QTest::newRow("paid as text") << QVariant("2") << QVariant("5") << true << false;
        QTest::newRow("paid, no days") << QVariant(1) << QVariant(0) << true << true;
        QTest::newRow("paid, days absent") << QVariant(1) << QVariant() << true << true;
    }
    void accountExpiry()
    {
        QFETCH(QVariant, userType);
        QFETCH(QVariant, daysLeft);
        QFETCH(bool, paid);
        QFETCH(bool, expired);
        if (userType.isValid())
            setServerOption("user_type", userType);
        if (daysLeft.isValid())
            setServerOption("days_left", daysLeft);
        QCOMPARE(isPaidAccount(), paid);
        QCOMPARE(isAccountExpired(), expired);
        QCOMPARE(isPaidAccountActive(), paid && !expired);
    }

    // A null or empty name is no option: the default comes back and nothing
    // is written, whatever rows the options tables hold.
    void emptyOptionNames()
    {
        setOption("alpha", 1);
        setServerOption("beta", 2);
        const int rows = rowsOf("options");
        for (const QString &name : {QString(), QStringLiteral("")}) {
            QCOMPARE(optionValue(name, 99), QVariant(99));
            QCOMPARE(serverOptionValue(name, 98), QVariant(98));
            setOption(name, 77);
        }
        QCOMPARE(optionValue("alpha"), QVariant(1));
        QCOMPARE(rowsOf("options"), rows);
        const int options = Database::tableId("options");
        QVERIFY(isNullValue(Database::lookupValue(options, 0, QVariant(QString()), 1)));
        QVERIFY(!Database::insertUnique(options, Conditions{{0, QVariant(QString())}, {1, 5}}));
        QCOMPARE(rowsOf("options"), rows);
    }

    // The mail falls back to the local option; values come back as text after
    // a restart; a file limit beyond int is not 0 (which would hold back every
    // file); trashed screenshots count.
    void accountValues()
    {
        QCOMPARE(userMail(), QString());
        setOption("mail", "local@example.com");
        setServerOption("mail", "");
        QCOMPARE(userMail(), "local@example.com");
        setServerOption("mail", QVariant(QString()));
        QCOMPARE(userMail(), "local@example.com");
        setServerOption("mail", "server@example.com");
        QCOMPARE(userMail(), "server@example.com");
        setServerOption("user_type", 1);
        setServerOption("days_left", 0);
        setServerOption("file_limit", 10485760);
        QVERIFY(store->restart());
        QCOMPARE(serverOptionValue("file_limit").typeId(), int(QMetaType::QString));
        QVERIFY(isPaidAccount() && isAccountExpired());
        QCOMPARE(fileLimit(), 10485760);
        setServerOption("file_limit", "lots");
        QCOMPARE(fileLimit(), 0);
        setServerOption("file_limit", "10737418240");
        QCOMPARE(fileLimit(), std::numeric_limits<int>::max());
        setMember(createItem("skrin"), "trashed", 1);
        createItem("skrin_text");
        QCOMPARE(skrinCount(), 1);
    }

    // The four shortcut keys prefer the running platform's own entry.
    void shortcutKeysPreferThePlatformEntry()
    {
#if defined(Q_OS_LINUX)
        QCOMPARE(platformName(), "linux");
#endif
        const QString key = "shortcut_capture", own = platformName() + "_shortcut_capture";
        QCOMPARE(shortcutOptionValue(key, "Ctrl+Shift+S").toString(), "Ctrl+Shift+S");
        setServerOption(key, "Ctrl+F1");
        setServerOption("other_shortcut_capture", "Ctrl+F3"); // another platform's entry is not ours
        QCOMPARE(shortcutOptionValue(key, "Ctrl+Shift+S").toString(), "Ctrl+F1");
        setShortcutOption(key, "Ctrl+F2");
        QCOMPARE(serverOptionValue(own).toString() + serverOptionValue(key).toString(), "Ctrl+F2Ctrl+F1");
        QCOMPARE(shortcutOptionValue(key, "Ctrl+Shift+S").toString(), "Ctrl+F2");
    }

    void base36_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "0";
        QTest::newRow("10") << qint64(10) << "0q";
        QTest::newRow("36") << qint64(36) << "10";
        // Twelve times the last digit, behind the "0".
        QTest::newRow("36^12-1") << qint64(4738381338321616895LL) << "0mmmmmmmmmmmm";
        // No caller passes a negative id; if one does, a minus sign goes in
        // front of the text of the magnitude, so that two ids never share a text.
        QTest::newRow("-10") << qint64(-10) << "-0q";
        const qint64 max = std::numeric_limits<qint64>::max();
        QTest::newRow("min") << (-max - 1) << '-' + encodeBase36(max).chopped(1) + '8';
    }
    void base36()
    {
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(encodeBase36(value), text);
    }

    // Handles are random; one is in use as soon as a row holds it, before any
    // commit, and free again once that row is gone.
    void handles()
    {
        QSet<QString> drawn;
        for (int i = 0; i < 200; ++i)
            drawn.insert(randomHandle());
        QVERIFY(drawn.size() > 190); // 36^5 handles: repeats are rare
        const auto inAlphabet = [](QChar c) { return handleAlphabet.contains(c); };
        for (const QString &handle : std::as_const(drawn))
            QVERIFY(handle.size() == 5 && std::all_of(handle.cbegin(), handle.cend(), inAlphabet));
        const Id skrin = createItem("skrin");
        setMember(skrin, "handle", "ab1cd");
        QVERIFY(isHandleInUse("ab1cd") && !isHandleInUse("AB1CD"));
        removeItem(skrin);
        QVERIFY(!isHandleInUse("ab1cd"));
    }

    void shareAndPageAddresses()
    {
        const Id own = createItem("skrin");
        QCOMPARE(shareUrl(own, "ab1cd"), QString()); // no template yet
        setOption("user", qint64(36)); // owner 0 stands for the logged-in user
        insertRow("items", {{"id", Id(900)}, {"type", "skrin"}, {"owner", qint64(100)}});
        setServerOption("handle_url", "x/%user%/%handle%%options%");
        QCOMPARE(shareUrl(900, "ab1cd"), "x/2l/ab1cd");
        // Every occurrence is replaced, case-sensitively.
        setServerOption("handle_url", "http://h/%handle%/%HANDLE%/%user%-%user%?%options%&o=%options%");
        QCOMPARE(shareUrl(own, "q1w2e"), "http://h/q1w2e/%HANDLE%/10-10?&o=");
        // A handle from the service cannot break the address or fill in a placeholder.
        setServerOption("handle_url", "http://h/s?h=%handle%%options%");
        QCOMPARE(shareUrl(own, "a&b=%options%"), "http://h/s?h=a%26b%3D%25options%25");
        // The "server" option moves the sync endpoint, not the pages.
        const QString base = defaultServerUrl();
        setServerOption("server", "http://127.0.0.1:1/tavrin-engine");
        QCOMPARE(resendPageUrl(), base + "/p/resend?uid=10");
        QCOMPARE(sharePageUrl(36, "%TYPE%", "face book"), base + "/p/_share?uid=10&handle=%25TYPE%25&type=face%20book");
    }

    void passwordHash()
    {
        QCOMPARE(sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
        // Latin-1, not UTF-8: "é" is the one byte E9. Beyond Latin-1 every
        // UTF-16 unit hashes like a question mark.
        const QByteArray latin1Hash = QCryptographicHash::hash("caf\xe9", QCryptographicHash::Sha1).toHex();
        QCOMPARE(sha1Hex("caf\u00e9"), QString::fromLatin1(latin1Hash));
        QCOMPARE(sha1Hex("has\u0142o"), sha1Hex("has?o"));
        QCOMPARE(sha1Hex(QString::fromUtf8("x\xf0\x9f\x98\x80")), sha1Hex("x??"));
    }

    void syntax_data()
    {
        QTest::addColumn<bool>("mail");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("mail") << true << "ann@example.com" << true;
        QTest::newRow("mail: capitals, dots") << true << "Ann.Marie_O-Neil@Mail.Example.CO.UK" << true;
        QTest::newRow("mail: six-letter last label") << true << "a@example.museum" << true;
        QTest::newRow("mail: seven-letter last label") << true << "a@example.abcdefg" << false;
        QTest::newRow("mail: trailing newline") << true << "a@example.com\n" << false;
        QTest::newRow("mail: one-character label") << true << "a@x.com" << false;
        QTest::newRow("mail: two at signs") << true << "a@b@example.com" << false;
        QTest::newRow("mail: plus sign") << true << "a+b@example.com" << false;
        QTest::newRow("password: four characters") << false << "abcd" << false;
        QTest::newRow("password: ab-12") << false << "ab-12" << true;
        QTest::newRow("password: space") << false << "abc de" << false;
        QTest::newRow("password: trailing newline") << false << "abcde\n" << false;
        QTest::newRow("password: non-ASCII letter") << false << "h\u0105s\u0142o1" << false;
    }
    void syntax()
    {
        QFETCH(bool, mail);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(mail ? isValidMail(text) : isValidPassword(text), valid);
    }

    // A stored date-time read without the time zone agrees with toDateTime():
    // exactly where it claims the instant, within a day where it claims a
    // local time, and not valid at all where it claims none. The usual forms
    // take the cheap readings. A zone with half-hour offsets and changes.
    void storedTimesAgreeWithToDateTime()
    {
        const ZoneScope zone("America/St_Johns");
        QVariantList cells{QVariant(), QVariant(QString()), QString(""), QDateTime(), 5, 2.5,
                           QByteArray("2024-03-01T10:00:00"), "2024-03-01 10:00:00", "2024-03-01T10:00:00.5",
                           "2024-03-01T24:00:00", "2023-02-29T10:00:00", "2024-03-01T10:00:00+15:00",
                           "2024-03-01T10:00:00+0530", "2024-03-01T10:00:00z", "2024-03-01", "garbage",
                           "2024-03-10T02:30:00.000", "2024-11-03T01:30:00", "\uff12024-03-01T10:00:00"};
        QRandomGenerator random(20241103);
        for (int i = 0; i < 1500; ++i) {
            // 1900 to 2100
            const qint64 ms = (qint64(-2208988800) + qint64(random.bounded(6311433600.0))) * 1000
                              + random.bounded(1000);
            const int offset = int(random.bounded(-14 * 4, 14 * 4 + 1)) * 15 * 60;
            for (const QDateTime &time :
                 {QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), QDateTime::fromMSecsSinceEpoch(ms),
                  QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset)}) {
                cells << time << time.toString(Qt::ISODateWithMs) << time.toString(Qt::ISODate);
            }
        }
        int cheap = 0;
        for (const QVariant &cell : std::as_const(cells)) {
            const StoredTime time = StoredTime::of(cell);
            const QDateTime expected = cell.toDateTime();
            const QString what = QDebug::toString(cell);
            switch (time.kind) {
            case StoredTime::None:
                QVERIFY2(!expected.isValid(), qPrintable(what));
                break;
            case StoredTime::Instant:
                QVERIFY2(expected.isValid(), qPrintable(what));
                QCOMPARE(time.ms, expected.toMSecsSinceEpoch());
                ++cheap;
                break;
            case StoredTime::Local:
                QVERIFY2(!expected.isValid() || qAbs(expected.toMSecsSinceEpoch() - time.ms) < StoredTime::localSlackMs,
                         qPrintable(what));
                QCOMPARE(time.earliest(), time.ms - StoredTime::localSlackMs);
                QCOMPARE(time.latest(), time.ms + StoredTime::localSlackMs);
                ++cheap;
                break;
            case StoredTime::Other:
                break;
            }
        }
        QCOMPARE(cheap, 1500 * 9 + 2); // every date-time and its texts, and the two local texts above
        QCOMPARE(StoredTime::of("2024-03-01T10:00:00.250-03:30").ms,
                 QDateTime(QDate(2024, 3, 1), QTime(13, 30, 0, 250), Qt::UTC).toMSecsSinceEpoch());
    }
};

QTEST_MAIN(TestServices)
#include "tst_services.moc"
