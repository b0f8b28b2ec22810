// Items, members and ids; the uncommitted bookkeeping; files; queries,
// trees and favourites — on the real store in a temporary folder; and the
// Item base class and the Smoother animation.

#include "enginefixture.h"
#include "item.h"
#include "itemcopier.h"
#include "rawdb.h"

#include <QThread>

#include <limits>

namespace {

QSet<Id> asSet(const QList<Id> &ids) { return QSet<Id>(ids.cbegin(), ids.cend()); }

std::pair<Id, bool> exactId(const QVariant &value)
{
    bool ok = false;
    const Id id = idFromVariant(value, &ok);
    return {id, ok};
}

const QString skrin = QStringLiteral("skrin");
const QString image = QStringLiteral("skrin_image");

// An Item that logs what it is told: "init", "set title=t", "remove".
class Probe : public Item
{
public:
    Probe(Id id, const QString &members, const QString &smooth = QString())
        : Item(id)
    {
        watchMembers(members);
        if (!smooth.isEmpty())
            setSmooth(smooth);
    }

    QStringList log;
    std::function<void()> hook;

    QList<double> valuesOf(const QString &member) const
    {
        QList<double> values;
        for (const QString &entry : log) {
            if (entry.startsWith("set " + member + '='))
                values.append(entry.section('=', 1).toDouble());
        }
        return values;
    }

protected:
    void init() override { record("init"); }
    void set(const QString &member, const QVariant &value) override
    {
        record("set " + member + '=' + value.toString());
    }
    void remove() override { record("remove"); }

private:
    void record(const QString &entry)
    {
        log.append(entry);
        if (hook)
            hook();
    }
};

class Glider : public Smoother
{
public:
    QList<QPair<QString, double>> calls;
    std::function<void(const QString &, double)> hook;

protected:
    void smoothed(const QString &name, double value) override
    {
        calls.append({name, value});
        if (hook)
            hook(name, value);
    }
};

Id titledSkrin()
{
    const Id id = createItem(skrin);
    setMember(id, "title", "t");
    return id;
}

} // namespace

class TestItems : public EngineTest
{
    Q_OBJECT

    void afterEach() override { QVERIFY(!SmootherMaster::instance()->isTimerActive()); }

private slots:
    void localIdsCountDownAcrossRestarts()
    {
        QCOMPARE(createItem(skrin), Id(-1));
        QCOMPARE(createItem(image), Id(-2));
        QCOMPARE(rowsOf("uncommitted_create"), 2);
        QVERIFY(store->restart());
        QCOMPARE(createItem(skrin), Id(-3));
        QCOMPARE(itemType(-2), image);
        // Only synced types are items.
        QCOMPARE(createItem("items"), Id(0));
        QCOMPARE(createItem("Skrin"), Id(0));
        QCOMPARE(rowsOf("items"), 3);
        // A counter left at the lowest id has no local id to give: no item, and
        // no wrap-around to a positive (server) id.
        setOption("itemAutodecrement", std::numeric_limits<Id>::min());
        QCOMPARE(createItem(skrin), Id(0));
        QCOMPARE(rowsOf("items"), 3);
    }

    // A flush running while items are made takes each item's rows together:
    // the file never holds an `items` row without its type table's row.
    void createdItemsReachTheFileWhole()
    {
        QAtomicInt stop;
        // Bounded, so that a loaded machine's flushes always catch up.
        std::unique_ptr<QThread> maker(QThread::create([&stop] {
            for (int n = 0; n < 20000 && !stop.loadRelaxed(); ++n)
                createItem(skrin);
        }));
        maker->start();
        QString half;
        RawDb file(Database::dataFolder() + "/database.db");
        for (int i = 0; i < 30 && half.isEmpty(); ++i) {
            QVERIFY(Database::flush());
            half = file.text("SELECT count(*) FROM items WHERE id NOT IN (SELECT id FROM skrin) HAVING count(*) > 0");
        }
        stop.storeRelaxed(1);
        QVERIFY(maker->wait(QDeadlineTimer(60000)));
        QVERIFY2(half.isEmpty(), qPrintable(half + QStringLiteral(" items without their rows")));
    }

    void idValuesAreExact()
    {
        QCOMPARE(exactId("500"), std::pair(Id(500), true));
        QCOMPARE(exactId(3.0), std::pair(Id(3), true));
        QCOMPARE(exactId("9007199254740993"), std::pair(Id(9007199254740993LL), true));
        for (const QVariant &bad : {QVariant(2.7), QVariant("2.7"), QVariant("abc"), QVariant(1e300), QVariant(true),
                                    QVariant(QVariantList{1})})
            QCOMPARE(exactId(bad), std::pair(Id(0), false));

        const Id pen = createItem("skrin_pen");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refusing parent"));
        setMember(pen, "parent", 2.7);
        QCOMPARE(getMember(pen, "parent"), QVariant(Id(0)));
        QCOMPARE(rowsOf("uncommitted_set"), 0);
        setMember(pen, "parent", "42");
        QCOMPARE(getMember(pen, "parent"), QVariant(Id(42)));
        setMember(pen, "parent", 42.0);
        QCOMPARE(rowsOf("uncommitted_set"), 1);
    }

    // Id members cannot be set, parents are never null, names that are not
    // columns are ignored; owner 0 reads as the user except in readItem; a
    // member waiting for its download reads as null and asks for it.
    void memberRules()
    {
        setOption("user", Id(77));
        const Id pen = createItem("skrin_pen");
        setMember(pen, "id", 99);
        setMember(pen, "parent", QVariant());
        setMember(pen, "title", "x");
        QCOMPARE(getMember(pen, "id"), QVariant(pen));
        QCOMPARE(Database::value(Database::tableId("skrin_pen"), 1, 1), QVariant(Id(0)));
        QCOMPARE(getMember(pen, "title"), QVariant());
        QCOMPARE(getMember(pen, "owner"), QVariant(Id(77)));
        QCOMPARE(readItem(pen).value("owner").toLongLong(), 0);
        QCOMPARE(getMember(-99, "owner"), QVariant(Id(77)));

        store->requests.clear();
        const Id id = createItem(skrin);
        setMember(id, "file", "%downloading%");
        QCOMPARE(getMember(id, "file"), QVariant());
        QVERIFY(store->requests.seen().isEmpty()); // no address known yet
        insertRow("downloads", {{"url", "http://127.0.0.1:1/f"}, {"id", id}, {"member", "file"}});
        QCOMPARE(readItem(id).value("file"), QVariant());
        QCOMPARE(store->requests.seen(), QStringList{"download http://127.0.0.1:1/f"});
        QCOMPARE(readItem(id, true).value("file").toString(), "%downloading%");
        QCOMPARE(itemFileData(id, "file"), QByteArray());
    }

    // An equal value records nothing; a second change refreshes the one row;
    // removing a never-committed item leaves only its removal.
    void uncommittedBookkeeping()
    {
        const int modified = Database::columnId(Database::tableId("uncommitted_set"), "modified");
        const Id id = createItem(skrin);
        setMember(id, "title", "a");
        const auto recorded = rowsWhere("uncommitted_set", "id", id);
        InterfaceRecorder recorder;
        recorder.watch({{"id", id}});
        recorder.events.clear();
        QThread::msleep(5); // a new record would carry a later time
        setMember(id, "title", "a");
        QCOMPARE(rowsWhere("uncommitted_set", "id", id), recorded);
        QVERIFY(recorder.events.isEmpty());
        setMember(id, "title", "b");
        const auto rows = rowsWhere("uncommitted_set", "id", id);
        QCOMPARE(rows.size(), 1);
        QVERIFY(rows.first().at(modified).toDateTime() > recorded.first().at(modified).toDateTime());
        removeItem(id);
        QCOMPARE(rowsOf("uncommitted_create") + rowsOf("uncommitted_set") + rowsOf("items") + rowsOf("skrin"), 0);
        QCOMPARE(rowsWhere("uncommitted_remove", "id", id).size(), 1);
        removeItem(id);
        QCOMPARE(rowsOf("uncommitted_remove"), 1);
    }

    // An item made with its members stores and records what createItem and
    // one setMember per member would, with one change time; watchers hear it
    // arrive once, finished.
    void createdWithMembersLikeSingleWrites()
    {
        const Id parent = createItem(skrin);
        InterfaceRecorder children;
        children.watch({{"type", "skrin_pen"}, {"parent", parent}});
        InterfaceRecorder unparented;
        unparented.watch({{"type", "skrin_pen"}, {"parent", Id(0)}});
        const QVariantMap members{{"x", 12.5}, {"color", "#ff0000"}, {"parent", QString::number(parent)},
                                  {"title", "no such column"}, {"y", QVariant()}, {"id", 99}, {"type", "skrin"}};
        const Id single = createItem("skrin_pen");
        for (auto it = members.cbegin(); it != members.cend(); ++it)
            setMember(single, it.key(), it.value());
        children.events.clear();
        unparented.events.clear();

        const Id whole = createItemWithMembers("skrin_pen", members);
        QCOMPARE(children.events, QStringList({QStringLiteral("plus %1").arg(whole), "init"}));
        QVERIFY(unparented.events.isEmpty());
        QCOMPARE(itemType(whole), "skrin_pen");
        QVariantMap read = readItem(whole);
        read.insert("id", single);
        QCOMPARE(read, readItem(single));
        QCOMPARE(rowsWhere("uncommitted_create", "id", whole).size(), 1);

        const auto records = [](Id id) {
            const int table = Database::tableId("uncommitted_set");
            QMap<QString, QVariant> byMember;
            for (const QVector<QVariant> &row : rowsWhere("uncommitted_set", "id", id))
                byMember.insert(row.at(Database::columnId(table, "member")).toString(),
                                row.at(Database::columnId(table, "modified")));
            return byMember;
        };
        const auto wholeRecords = records(whole);
        QCOMPARE(wholeRecords.keys(), records(single).keys());
        for (const QVariant &time : wholeRecords) {
            QCOMPARE(time.metaType().id(), QMetaType::QDateTime);
            QCOMPARE(time.toDateTime().timeSpec(), Qt::UTC); // as the file gives it back
            QCOMPARE(time, wholeRecords.first());
        }

        // A refused id is left out as setMember leaves it; an unknown type
        // makes nothing.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refusing parent"));
        const Id refused = createItemWithMembers("skrin_pen", {{"parent", 2.7}, {"x", 1.0}});
        QCOMPARE(getMember(refused, "parent"), QVariant(Id(0)));
        QCOMPARE(records(refused).keys(), QStringList{"x"});
        QCOMPARE(unparented.events, QStringList({QStringLiteral("plus %1").arg(refused), "init"}));
        QCOMPARE(createItemWithMembers("items", {{"x", 1.0}}), Id(0));
        QCOMPARE(rowsOf("items"), 4);
    }

    // A copy is its source's members made anew (id and owner aside) with the
    // placement over them: a file is shared by name, one waiting for its
    // download is left out. Sources gone or of other types are passed over.
    void copiesTakeTheirSourcesMembers()
    {
        const Id parent = createItem(skrin), other = createItem(skrin);
        const Id pen = createItemWithMembers("skrin_pen", {{"x", 3.0}, {"color", "#00ff00"}, {"parent", parent}});
        const Id picture = createItemWithMembers(image, {{"x", 1.0}, {"parent", parent}});
        setMemberFile(picture, "file", "bytes");
        const Id waiting = createItemWithMembers(image, {{"file", "%downloading%"}, {"parent", parent}});
        insertRow("downloads", {{"url", "http://127.0.0.1:1/f"}, {"id", waiting}, {"member", "file"}});

        const ItemCopier copier({pen, -999, picture, waiting, other}, {"skrin_pen", image});
        QCOMPARE(copier.size(), 3);
        QCOMPARE(copier.source(1), picture);
        QCOMPARE(copier.type(0), "skrin_pen");
        QCOMPARE(copier.member(0, "parent"), QVariant(parent));
        QVERIFY(isNullValue(copier.member(0, "no such")));

        InterfaceRecorder recorder;
        recorder.watch({{"type", "skrin_pen"}, {"parent", other}});
        const Id copy = copier.copy(0, {{"x", 10.0}, {"parent", other}});
        QCOMPARE(recorder.events, QStringList({QStringLiteral("plus %1").arg(copy), "init"}));
        QVariantMap expected = readItem(pen);
        expected.insert({{"id", copy}, {"x", 10.0}, {"parent", other}});
        QCOMPARE(readItem(copy), expected);
        QCOMPARE(rowsWhere("uncommitted_set", "id", copy).size(), 3);

        const QString file = getMember(picture, "file").toString();
        const Id pictureCopy = copier.copy(1, {});
        removeItem(picture);
        QVERIFY(Database::flush());
        QCOMPARE(getMember(pictureCopy, "file").toString(), file);
        QCOMPARE(itemFileData(pictureCopy, "file"), QByteArray("bytes"));
        QVERIFY(isNullValue(readItem(copier.copy(2, {}), true).value("file")));
    }

    void filesAreFreedWhenUnreferenced()
    {
        const Id a = createItem(skrin), b = createItem(skrin);
        setMemberFile(a, "file", "first");
        const QString first = getMember(a, "file").toString();
        QCOMPARE(itemFileData(a, "file"), QByteArray("first"));
        setMember(b, "file", first);
        setMemberFile(a, "file", "second");
        setMember(b, "file", first); // same name: frees nothing
        QVERIFY(Database::flush());
        QVERIFY(Database::fileExists(first)); // b still names it
        setMember(b, "file", QString());
        QVERIFY(Database::flush()); // removed files go with the next flush
        QVERIFY(!Database::fileExists(first));
        const QString second = getMember(a, "file").toString();
        removeItem(a);
        QVERIFY(Database::flush());
        QVERIFY(!Database::fileExists(second));

        // No file is stored for an item that is not there.
        const QDir files(store->dir.path() + "/files");
        const qsizetype before = files.entryList(QDir::Files).size();
        setMemberFile(-1234, "file", "orphan");
        Database::flush();
        QCOMPARE(files.entryList(QDir::Files).size(), before);
    }

    void findItemsFilters()
    {
        const Id a = createItem(skrin), b = createItem(skrin), favourite = createItem("favourite");
        setMember(a, "handle", "abcde");
        setMember(b, "title", "titled");
        QVERIFY(findItems({}).isEmpty());
        QVERIFY(findItems({{"parent", Id(0)}}).isEmpty());
        QCOMPARE(asSet(findItems({{"type", skrin}})), (QSet<Id>{a, b}));
        QCOMPARE(findItems({{"type", skrin}, {"handle", "abcde"}}), QList<Id>{a});
        QCOMPARE(findItems({{"type", skrin}, {"title", QVariant()}}), QList<Id>{b});
        // "id" wins over "type"; ids given as text are ids; 2.7 is none.
        QCOMPARE(findItems({{"id", a}, {"type", "favourite"}}), QList<Id>{a});
        QCOMPARE(findItems({{"id", QString::number(b)}}), QList<Id>{b});
        QVERIFY(findItems({{"id", 2.7}}).isEmpty());
        QVERIFY(findItems({{"type", skrin}, {"nothing", 1}}).isEmpty()); // not a column
        QCOMPARE(findFirstItem({{"type", "favourite"}}), favourite);
        QCOMPARE(readFirstItem({{"handle", "abcde"}, {"type", skrin}}).value("id"), QVariant(a));
        QCOMPARE(asSet(findItems({{"type", QVariant()}})), (QSet<Id>{a, b, favourite})); // any type
        // An item watching many of its members: "id" sits among more than eight entries.
        WatchFilter many{{"id", a}};
        for (const char *member : {"created", "desc", "file", "h", "handle", "modified", "published", "title", "w",
                                   "x", "y"}) {
            setMember(a, member, QString::fromLatin1(member));
            many.insert(member, QVariant());
        }
        QCOMPARE(findItems(many), QList<Id>{a});
    }

    // "parent" and "handle" are both indexed: the search must still test the
    // null entry, as the watchers do.
    void nullFilterValuesNeedASetCell()
    {
        const Id parent = createItem(skrin), withHandle = createItem(skrin), without = createItem(skrin);
        setMember(withHandle, "parent", parent);
        setMember(without, "parent", parent);
        setMember(withHandle, "handle", "h1");
        const WatchFilter filter{{"type", skrin}, {"parent", parent}, {"handle", QVariant()}};
        QCOMPARE(findItems(filter), QList<Id>{withHandle});
        QVERIFY(store->restart()); // loaded rows are indexed with their null cells
        QCOMPARE(findItems(filter), QList<Id>{withHandle});
        QCOMPARE(findItems({{"type", skrin}, {"handle", QVariant()}}), QList<Id>{withHandle});
    }

    void childrenTreesAndFavourites()
    {
        const Id shot = createItem(skrin), share = createItem("share"), pen = createItem("skrin_pen");
        const Id picture = createItem(image), grandchild = createItem("skrin_pen");
        setMember(pen, "parent", shot);
        setMember(picture, "parent", shot);
        setMember(grandchild, "parent", pen);
        setMember(share, "item_id", shot);
        QCOMPARE(asSet(childItems(shot)), (QSet<Id>{pen, picture}));
        setFavourite(shot, true);
        setFavourite(shot, true);
        QVERIFY(isFavourite(shot) && rowsOf("favourite") == 1);
        setMember(createItem("favourite"), "item_id", shot); // a duplicate goes too
        setFavourite(shot, false);
        QVERIFY(!isFavourite(shot) && rowsOf("favourite") == 0);
        // A tree's children go; grandchildren, shares and favourites stay.
        setFavourite(pen, true);
        removeItemTree(shot);
        QCOMPARE(itemType(shot) + itemType(pen) + itemType(picture), QString());
        QCOMPARE(itemType(grandchild) + itemType(share), "skrin_penshare");
        QCOMPARE(rowsOf("favourite"), 1);
    }

    // Member lists are trimmed: a trailing comma must not leave the item
    // waiting for a member "".
    void initRunsOnceTheRowIsComplete()
    {
        const Id id = titledSkrin();
        Probe complete(id, "title,"), waiting(id, " title, desc"), untitled(createItem(skrin), " title ,");
        QCOMPARE(complete.log, QStringList{"init"});
        QVERIFY(complete.isInitialised());
        QVERIFY(waiting.log.isEmpty() && untitled.log.isEmpty());
        setMember(id, "desc", "d");
        QCOMPARE(waiting.log, QStringList{"init"});
        QCOMPARE(complete.log, (QStringList{"init", "set desc=d"}));
        // Naming "id" among the members keeps the item on its own row.
        Probe named(id, "id, title");
        QCOMPARE(named.log, QStringList{"init"});
        setMember(createItem(skrin), "title", "other");
        QCOMPARE(named.log, QStringList{"init"});
        // A row that loses a watched member is removed for the item, and comes back.
        setMember(id, "title", QVariant());
        QVERIFY(named.isWatching());
        setMember(id, "title", "back");
        named.removeItem();
        QCOMPARE(named.log, (QStringList{"init", "remove", "init", "remove"}));
        QCOMPARE(itemType(id), QString());
    }

    // Init reads the whole row once; a write to the row during init is still
    // what the item reads next.
    void initSeesWritesMadeDuringIt()
    {
        const Id id = titledSkrin();
        Probe probe(id, "title,desc");
        QVariant before, after;
        probe.hook = [&] {
            if (probe.log == QStringList{"init"}) {
                before = probe.member("title");
                setMember(id, "title", "changed");
                after = probe.member("title");
            }
        };
        setMember(id, "desc", "d");
        QCOMPARE(before.toString(), "t");
        QCOMPARE(after.toString(), "changed");
        QCOMPARE(probe.member("desc").toString(), "d");
    }

    // An item made while a new row is announced reads the row as announced,
    // unless a watcher told earlier has changed it meanwhile.
    void itemsMadeOnArrivalReadTheLatestRow()
    {
        struct TitleReader : Item
        {
            explicit TitleReader(Id id)
                : Item(id)
            {
                watchMembers("title,desc");
            }
            void init() override { seen = memberString("title"); }
            QString seen;
        };
        InterfaceRecorder first;
        first.watch({{"type", skrin}});
        std::unique_ptr<TitleReader> reader;
        bool changeFirst = false;
        first.hook = [&](const QString &event) {
            if (!event.startsWith("plus "))
                return;
            const Id id = event.section(' ', 1).toLongLong();
            if (changeFirst)
                setMember(id, "title", "changed");
            reader = std::make_unique<TitleReader>(id);
        };
        for (const bool change : {false, true}) {
            changeFirst = change;
            createItemWithMembers(skrin, {{"title", "announced"}, {"desc", "d"}});
            QCOMPARE(reader->seen, change ? "changed" : "announced");
        }
    }

    // Own writes are not heard back unless asked for; writes made while the
    // item applies a change are dropped.
    void ownWritesAreNotHeardBack()
    {
        const Id id = titledSkrin();
        Probe probe(id, "title");
        probe.log.clear();
        probe.setMember("desc", "own");
        QCOMPARE(getMember(id, "desc").toString(), "own");
        probe.setFileMember("file", "bytes");
        QCOMPARE(probe.fileData("file"), QByteArray("bytes"));
        QVERIFY(probe.log.isEmpty());
        probe.setMember("desc", "local", true);
        probe.setMember("desc", "plain", false);
        probe.writeFileMember("file", "more");
        QCOMPARE(probe.log.size(), 3);
        QCOMPARE(probe.log.mid(0, 2), (QStringList{"set desc=local", "set desc=plain"}));

        probe.hook = [&] { probe.setMember("desc", "from a callback"); };
        probe.watchMembers("title");
        setMember(id, "x", 1.0);
        QCOMPARE(probe.log.mid(3), (QStringList{"init", "set x=1"}));
        QCOMPARE(getMember(id, "desc").toString(), "plain");
    }

    void animatedMembersReachTheirTarget()
    {
        const Id id = createItem("skrin_pen");
        setMember(id, "x", 10.0);
        setMember(id, "y", 5.0);
        Probe probe(id, "x, y", "x, y");
        QCOMPARE(probe.log.first(), "init");
        setMember(id, "x", 20.0);
        QCOMPARE(probe.valuesOf("x"), QList<double>{10.0}); // starts where it was
        QTRY_VERIFY(!probe.isSmoothing("x"));
        const QList<double> values = probe.valuesOf("x");
        QCOMPARE(values.last(), 20.0);
        QCOMPARE(values.count(20.0), 1);
        for (qsizetype i = 1; i < values.size(); ++i)
            QVERIFY(values.at(i) >= values.at(i - 1) && values.at(i) <= 20.0);

        // An own write stops the animation of that member; the next change
        // from elsewhere starts from the last target.
        setMember(id, "x", 40.0);
        probe.setMember("x", 25.0);
        QVERIFY(!probe.isSmoothing("x"));
        probe.log.clear();
        setMember(id, "x", 30.0);
        QCOMPARE(probe.valuesOf("x").first(), 40.0);
        probe.jumpTo("x", 30.0);
    }

    // A pool thread's change is walked on the GUI thread after the item has gone.
    void destroyedWhileANotificationIsQueued()
    {
        const Id id = titledSkrin();
        auto *probe = new Probe(id, "title", "x");
        std::unique_ptr<QThread> writer(QThread::create([id] { setMember(id, "x", 3.0); }));
        writer->start();
        writer->wait();
        delete probe;
        settle();
        QCOMPARE(getMember(id, "x").toDouble(), 3.0);
    }

    // smoothTo with the running target changes nothing; with a new one it
    // restarts from the running target, not the given start. jumpTo ends an
    // animation at once.
    void smoothToAndJumpTo()
    {
        Glider glider;
        glider.smoothTo("a", 0.0, 10.0);
        glider.smoothTo("a", 0.0, 10.0);
        QCOMPARE(glider.calls, (QList<QPair<QString, double>>{{"a", 0.0}}));
        glider.smoothTo("a", 3.0, 20.0);
        QCOMPARE(glider.calls.last().second, 10.0);
        QTRY_VERIFY(!glider.isSmoothing("a"));
        QCOMPARE(glider.calls.last().second, 20.0);
        for (const auto &call : std::as_const(glider.calls))
            QVERIFY(call.second >= 0.0 && call.second <= 20.0);
        QVERIFY(!glider.stop("a"));
        glider.calls.clear();
        glider.smoothTo("b", 0.0, 10.0);
        QVERIFY(glider.jumpTo("b", 5.0));
        QVERIFY(!glider.isSmoothing("b"));
        QVERIFY(!SmootherMaster::instance()->contains(&glider));
        QVERIFY(!SmootherMaster::instance()->isTimerActive()); // nothing left to animate
        QVERIFY(!glider.jumpTo("c", 7.0));
        QCOMPARE(glider.calls, (QList<QPair<QString, double>>{{"b", 0.0}, {"b", 5.0}, {"c", 7.0}}));
    }

    // A restart made inside the final callback of the same name is kept.
    void restartInsideFinalCallbackSurvives()
    {
        Glider glider;
        bool restarted = false;
        glider.hook = [&](const QString &name, double value) {
            if (!restarted && value == 10.0) {
                restarted = true;
                glider.smoothTo(name, 10.0, 20.0);
            }
        };
        glider.smoothTo("a", 0.0, 10.0);
        QTRY_VERIFY(restarted);
        QVERIFY(glider.isSmoothing("a"));
        QTRY_VERIFY(!glider.isSmoothing("a"));
        QCOMPARE(glider.calls.last().second, 20.0);
    }

    void destroyingAnimatingSmoother()
    {
        auto *doomed = new Glider;
        Glider other;
        other.hook = [&](const QString &, double) { delete std::exchange(doomed, nullptr); };
        doomed->smoothTo("a", 0.0, 1.0);
        other.smoothTo("a", 0.0, 1.0); // deletes doomed at once
        QVERIFY(!doomed);
        QTRY_VERIFY(!other.isSmoothing("a"));
        QVERIFY(!SmootherMaster::instance()->isTimerActive());
    }

};

QTEST_MAIN(TestItems)
#include "tst_items.moc"
