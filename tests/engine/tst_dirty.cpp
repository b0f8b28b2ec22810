// Dirty screenshots, thumbnail claims and held-back files, including marks
// that come back from the file after a restart.

#include "dirtyskrins.h"
#include "enginefixture.h"

#include <QThread>

namespace {

const QString skrin = QStringLiteral("skrin");

int dirtTable()
{
    return Database::tableId(QStringLiteral("dirt_skrin"));
}

int dirtColumn(const char *name)
{
    return Database::columnId(dirtTable(), QString::fromLatin1(name));
}

// The stored mark of a screenshot (by stored id), as the table holds it.
QVariant markCell(Id storedId)
{
    return Database::lookupValue(dirtTable(), dirtColumn("id"), QVariant(storedId), dirtColumn("modified"));
}

// Moves a screenshot's mark to `when`, as if it had been made then.
void setMark(Id storedId, const QDateTime &when)
{
    const int row = Database::findRow(dirtTable(), dirtColumn("id"), QVariant(storedId));
    QVERIFY(row > 0);
    Database::setValue(dirtTable(), row, dirtColumn("modified"), QVariant(when));
}

// The commit answer also rewrites the marks and the held-back files.
void translate(Id local, Id server)
{
    translateId(local, server);
    QMutexLocker lock(&storeMutex);
    for (const char *name : {"dirt_skrin", "too_big_files"}) {
        const int table = Database::tableId(QString::fromLatin1(name));
        const int column = Database::columnId(table, QStringLiteral("id"));
        RowCursor cursor = Database::select(table, column, QVariant(local));
        while (cursor.next())
            Database::setValue(cursor, column, QVariant(server));
    }
}

void waitForClockToPass(const QDateTime &time)
{
    while (QDateTime::currentDateTime() <= time)
        QThread::msleep(1);
}

} // namespace

class TestDirty : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void markingTwiceKeepsOneLaterMark();
    void restingMarksBecomeDue();
    void atMostFourDueOldestFirst();
    void translatedIdsStayKnown();
    void secondClaimOfOneMarkStops();
    void claimWithoutMark();
    void renewedMarkSurvivesTheEnd();
    void marksSurviveARestartAndClearAfterIt();
    void tooBigItems();

private:
    EngineStore *store = nullptr;
};

void TestDirty::init()
{
    store = new EngineStore;
    QVERIFY(store->opened);
    QMutexLocker lock(&storeMutex);
    thumbnailsInProgress.clear();
}

void TestDirty::cleanup()
{
    {
        QMutexLocker lock(&storeMutex);
        thumbnailsInProgress.clear();
    }
    delete store;
    store = nullptr;
}

void TestDirty::markingTwiceKeepsOneLaterMark()
{
    const Id id = createItem(skrin);
    QVERIFY(!isSkrinDirty(id));
    markSkrinDirty(id);
    QVERIFY(isSkrinDirty(id));
    const QDateTime first = markCell(id).toDateTime();
    QVERIFY(first.isValid());

    waitForClockToPass(first);
    markSkrinDirty(id);
    QCOMPARE(rowsOf("dirt_skrin"), 1);
    QVERIFY(markCell(id).toDateTime() > first);

    QVERIFY(!isSkrinDirty(createItem(skrin)));
    markSkrinDirty(0); // no screenshot
    QCOMPARE(rowsOf("dirt_skrin"), 1);
    // Marks are local bookkeeping, never sent.
    QCOMPARE(rowsWhere("uncommitted_set", "id", QVariant(id)).size(), 0);
}

void TestDirty::restingMarksBecomeDue()
{
    const Id resting = createItem(skrin);
    const Id busy = createItem(skrin);
    markSkrinDirty(resting);
    markSkrinDirty(busy);
    const QDateTime now = QDateTime::currentDateTime();
    setMark(resting, now.addSecs(-5));
    // A mark that has not rested yet (set ahead of the clock so that the
    // outcome does not hang on how fast this test runs).
    setMark(busy, now.addSecs(60));
    QCOMPARE(dueDirtySkrins(), QList<Id>{resting});
}

void TestDirty::atMostFourDueOldestFirst()
{
    const QList<int> agesSecs{10, 50, 30, 50, 20, 40};
    QList<Id> ids;
    const QDateTime now = QDateTime::currentDateTime();
    for (const int age : agesSecs) {
        ids.append(createItem(skrin));
        markSkrinDirty(ids.last());
        setMark(ids.last(), now.addSecs(-age));
    }
    // Equal times come in ascending order of id: -4 before -2.
    QCOMPARE(ids, (QList<Id>{-1, -2, -3, -4, -5, -6}));
    QCOMPARE(dueDirtySkrins(), (QList<Id>{-4, -2, -6, -3}));
    // Until they are rendered the same four stay due.
    QCOMPARE(dueDirtySkrins(), (QList<Id>{-4, -2, -6, -3}));
}

void TestDirty::translatedIdsStayKnown()
{
    const Id local = createItem(skrin);
    markSkrinDirty(local);
    translate(local, 5000);
    QCOMPARE(markCell(local), QVariant());
    QVERIFY(markCell(5000).isValid());
    QVERIFY(isSkrinDirty(local));
    QVERIFY(isSkrinDirty(5000));

    setMark(5000, QDateTime::currentDateTime().addSecs(-5));
    QCOMPARE(dueDirtySkrins(), QList<Id>{local});
    bool claimed = true;
    const QDateTime mark = beginSkrinThumbnail(local, &claimed);
    QVERIFY(!claimed);
    QVERIFY(mark.isValid());
    endSkrinThumbnail(local, mark);
    QVERIFY(!isSkrinDirty(local));
    QVERIFY(thumbnailsInProgress.isEmpty());

    // A mark made after the translation lands on the server id.
    markSkrinDirty(local);
    QVERIFY(markCell(5000).isValid());
    QCOMPARE(rowsOf("dirt_skrin"), 1);
}

void TestDirty::secondClaimOfOneMarkStops()
{
    const Id id = createItem(skrin);
    markSkrinDirty(id);
    const QDateTime stored = markCell(id).toDateTime();

    bool firstClaimed = true;
    const QDateTime first = beginSkrinThumbnail(id, &firstClaimed);
    QVERIFY(!firstClaimed);
    QCOMPARE(first, stored);

    bool secondClaimed = false;
    const QDateTime second = beginSkrinThumbnail(id, &secondClaimed);
    QVERIFY(secondClaimed);
    QVERIFY(second.isNull());
    // The job that found the claim ends with its null time: no row goes.
    endSkrinThumbnail(id, second);
    QVERIFY(isSkrinDirty(id));
    QCOMPARE(thumbnailsInProgress.size(), 1);

    endSkrinThumbnail(id, first);
    QVERIFY(!isSkrinDirty(id));
    QVERIFY(thumbnailsInProgress.isEmpty());

    // A caller that does not want the flag may pass none.
    markSkrinDirty(id);
    QVERIFY(beginSkrinThumbnail(id, nullptr).isValid());
    QVERIFY(beginSkrinThumbnail(id, nullptr).isNull());
}

void TestDirty::claimWithoutMark()
{
    const Id id = createItem(skrin);
    bool claimed = true;
    QVERIFY(beginSkrinThumbnail(id, &claimed).isNull());
    QVERIFY(!claimed);
    QVERIFY(thumbnailsInProgress.contains(ThumbnailClaim(QDateTime(), id)));
    beginSkrinThumbnail(id, &claimed);
    QVERIFY(claimed);

    markSkrinDirty(createItem(skrin)); // someone else's mark stays
    endSkrinThumbnail(id, QDateTime());
    QVERIFY(thumbnailsInProgress.isEmpty());
    QCOMPARE(rowsOf("dirt_skrin"), 1);
    beginSkrinThumbnail(id, &claimed);
    QVERIFY(!claimed);
}

void TestDirty::renewedMarkSurvivesTheEnd()
{
    const Id id = createItem(skrin);
    markSkrinDirty(id);
    bool claimed = true;
    const QDateTime begun = beginSkrinThumbnail(id, &claimed);
    QVERIFY(!claimed);

    // The user changes the screenshot while it renders.
    waitForClockToPass(begun);
    markSkrinDirty(id);
    endSkrinThumbnail(id, begun);
    QVERIFY(isSkrinDirty(id));
    QVERIFY(thumbnailsInProgress.isEmpty());

    // The newer version is claimed and cleared in its turn.
    const QDateTime again = beginSkrinThumbnail(id, &claimed);
    QVERIFY(!claimed);
    QVERIFY(again > begun);
    endSkrinThumbnail(id, again);
    QVERIFY(!isSkrinDirty(id));
}

void TestDirty::marksSurviveARestartAndClearAfterIt()
{
    const Id first = createItem(skrin);
    const Id second = createItem(skrin);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime firstMark = now.addMSecs(-20123);
    markSkrinDirty(first);
    markSkrinDirty(second);
    setMark(first, firstMark);
    setMark(second, now.addMSecs(-10456));

    QVERIFY(store->restart());
    // What this is about: the file gives the marks back as text.
    QCOMPARE(markCell(first).typeId(), int(QMetaType::QString));
    QVERIFY(isSkrinDirty(first));
    QCOMPARE(dueDirtySkrins(), (QList<Id>{first, second}));

    // A mark made in this run (a date-time in memory) sorts among them by time.
    const Id third = createItem(skrin);
    markSkrinDirty(third);
    setMark(third, now.addSecs(-30));
    QCOMPARE(dueDirtySkrins(), (QList<Id>{third, first, second}));

    bool claimed = true;
    const QDateTime begun = beginSkrinThumbnail(first, &claimed);
    QVERIFY(!claimed);
    QCOMPARE(begun, firstMark);
    beginSkrinThumbnail(first, &claimed);
    QVERIFY(claimed); // the text mark is one version, however often it is read
    endSkrinThumbnail(first, begun);
    QVERIFY(!isSkrinDirty(first));
    QCOMPARE(dueDirtySkrins(), (QList<Id>{third, second}));

    QVERIFY(store->restart());
    QVERIFY(!isSkrinDirty(first));
    QVERIFY(isSkrinDirty(second));
    QVERIFY(isSkrinDirty(third));
}

void TestDirty::tooBigItems()
{
    QVERIFY(tooBigItemIds().isEmpty());
    const Id local = createItem(QStringLiteral("skrin_image"));
    const int table = Database::tableId(QStringLiteral("too_big_files"));
    const auto column = [table](const char *name) { return Database::columnId(table, QString::fromLatin1(name)); };
    Database::insertRow(table, {{column("id"), QVariant(local)},
                                {column("member"), QStringLiteral("file")},
                                {column("file"), QStringLiteral("big.png")}});
    translate(local, 6000);
    Database::insertRow(table, {{column("id"), QVariant(Id(7000))},
                                {column("member"), QStringLiteral("file")},
                                {column("file"), QStringLiteral("other.png")}});
    Database::insertRow(table, {{column("id"), QVariant(Id(7000))},
                                {column("member"), QStringLiteral("thumbnail64_file")},
                                {column("file"), QStringLiteral("thumb.png")}});
    QCOMPARE(tooBigItemIds(), (QSet<Id>{local, 7000}));
}

QTEST_MAIN(TestDirty)
#include "tst_dirty.moc"
