// Items, members and ids; the uncommitted bookkeeping; options; queries and
// favourites — on the real store in a temporary folder.

#include "enginefixture.h"

#include <QSignalSpy>
#include <QThread>

namespace {

QSet<Id> asSet(const QList<Id> &ids)
{
    return QSet<Id>(ids.cbegin(), ids.cend());
}

const QString skrin = QStringLiteral("skrin");
const QString image = QStringLiteral("skrin_image");

} // namespace

class TestItems : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void localIdsCountDown();
    void localIdsAcrossRestart();
    void onlySyncedTypesAreItems();
    void idValuesAreExact();
    void memberRules();
    void readItemAndOwner();

    void equalValueRecordsNothing();
    void secondChangeRefreshesTheRow();
    void removingNeverCommittedItem();
    void removeLeavesChildrenAndFavourites();

    void translatedIdsKeepWorking();
    void filesAreFreedWhenUnreferenced();
    void waitingFileMembers();

    void options();

    void findItemsFilters();
    void nullFilterValuesNeedASetCell();
    void childrenAndTrees();
    void favourites();
    void readItemsAndFilterBuilders();
    void pixmapOfMissingFileStartsNothing();

private:
    EngineStore *store = nullptr;
};

void TestItems::init()
{
    store = new EngineStore;
    QVERIFY(store->opened);
}

void TestItems::cleanup()
{
    delete store;
    store = nullptr;
}

void TestItems::localIdsCountDown()
{
    QCOMPARE(createItem(skrin), Id(-1));
    QCOMPARE(createItem(skrin), Id(-2));
    QCOMPARE(optionValue(QStringLiteral("itemAutodecrement")).toLongLong(), -2);
    QCOMPARE(itemType(-1), skrin);
    QCOMPARE(rowsOf("items"), 2);
    QCOMPARE(rowsOf("uncommitted_create"), 2);
}

void TestItems::localIdsAcrossRestart()
{
    createItem(skrin);
    createItem(image);
    QVERIFY(store->restart());
    QCOMPARE(createItem(skrin), Id(-3));
    QCOMPARE(itemType(-2), image);
}

void TestItems::onlySyncedTypesAreItems()
{
    QCOMPARE(createItem(QStringLiteral("items")), Id(0));
    QCOMPARE(createItem(QStringLiteral("Skrin")), Id(0));
    QCOMPARE(rowsOf("items"), 0);
    QVERIFY(optionValue(QStringLiteral("itemAutodecrement")).isNull());
    QCOMPARE(syncedTableId(QStringLiteral("options")), -1);
    QCOMPARE(syncedTableId(skrin), Database::tableId(skrin));
}

void TestItems::idValuesAreExact()
{
    bool ok = false;
    QCOMPARE(idFromVariant(QVariant(QStringLiteral("500")), &ok), Id(500));
    QVERIFY(ok);
    QCOMPARE(idFromVariant(QVariant(3.0), &ok), Id(3));
    QVERIFY(ok);
    QCOMPARE(idFromVariant(QVariant(QStringLiteral("9007199254740993")), &ok), Id(9007199254740993LL));
    QVERIFY(ok);
    for (const QVariant &bad : {QVariant(2.7), QVariant(QStringLiteral("2.7")), QVariant(QStringLiteral("abc")),
                                QVariant(1e300), QVariant(true), QVariant(QVariantList{1})}) {
        QCOMPARE(idFromVariant(bad, &ok), Id(0));
        QVERIFY2(!ok, qPrintable(bad.toString()));
    }

    const Id pen = createItem(QStringLiteral("skrin_pen"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing parent")));
    setMember(pen, QStringLiteral("parent"), 2.7);
    QCOMPARE(getMember(pen, QStringLiteral("parent")), QVariant(Id(0)));
    QCOMPARE(rowsOf("uncommitted_set"), 0);

    setMember(pen, QStringLiteral("parent"), QStringLiteral("42"));
    QCOMPARE(getMember(pen, QStringLiteral("parent")), QVariant(Id(42)));
    setMember(pen, QStringLiteral("parent"), 42.0);
    QCOMPARE(rowsOf("uncommitted_set"), 1);
}

void TestItems::memberRules()
{
    const Id pen = createItem(QStringLiteral("skrin_pen"));
    setMember(pen, QStringLiteral("id"), 99);
    QCOMPARE(getMember(pen, QStringLiteral("id")), QVariant(pen));
    setMember(pen, QStringLiteral("parent"), QVariant());
    QCOMPARE(Database::value(Database::tableId(QStringLiteral("skrin_pen")), 1, 1), QVariant(Id(0)));
    // Not a column: nothing changes, nobody is told.
    setMember(pen, QStringLiteral("title"), QStringLiteral("x"));
    QCOMPARE(getMember(pen, QStringLiteral("title")), QVariant());
    QCOMPARE(getMember(pen, QStringLiteral("type")), QVariant(QStringLiteral("skrin_pen")));
}

void TestItems::readItemAndOwner()
{
    setOption(QStringLiteral("user"), Id(77));
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("hello"));
    QCOMPARE(getMember(id, QStringLiteral("owner")), QVariant(Id(77)));
    const QVariantMap item = readItem(id);
    QCOMPARE(item.value(QStringLiteral("owner")).toLongLong(), 0);
    QCOMPARE(item.value(QStringLiteral("id")), QVariant(id));
    QCOMPARE(item.value(QStringLiteral("type")).toString(), skrin);
    QCOMPARE(item.value(QStringLiteral("title")).toString(), QStringLiteral("hello"));
    QVERIFY(item.contains(QStringLiteral("thumbnail512_file")));
    QVERIFY(readItem(-99).isEmpty());
    QCOMPARE(getMember(-99, QStringLiteral("parent")), QVariant(Id(0)));
    QCOMPARE(getMember(-99, QStringLiteral("type")).toString(), QString());
    QCOMPARE(getMember(-99, QStringLiteral("owner")), QVariant(Id(77)));
}

void TestItems::equalValueRecordsNothing()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("a"));
    QCOMPARE(rowsOf("uncommitted_set"), 1);
    InterfaceRecorder recorder;
    recorder.watch({{QStringLiteral("id"), id}});
    recorder.events.clear();
    setMember(id, QStringLiteral("title"), QStringLiteral("a"));
    QCOMPARE(rowsOf("uncommitted_set"), 1);
    QVERIFY(recorder.events.isEmpty());
}

void TestItems::secondChangeRefreshesTheRow()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("a"));
    const auto first = rowsWhere("uncommitted_set", "id", id);
    QCOMPARE(first.size(), 1);
    QThread::msleep(5); // two distinct clock readings
    setMember(id, QStringLiteral("title"), QStringLiteral("b"));
    setMember(id, QStringLiteral("desc"), QStringLiteral("d"));
    const auto rows = rowsWhere("uncommitted_set", "id", id);
    QCOMPARE(rows.size(), 2);
    const int memberColumn = Database::columnId(Database::tableId(QStringLiteral("uncommitted_set")), QStringLiteral("member"));
    const int modifiedColumn = Database::columnId(Database::tableId(QStringLiteral("uncommitted_set")), QStringLiteral("modified"));
    for (const auto &row : rows) {
        if (row.at(memberColumn).toString() == QLatin1String("title"))
            QVERIFY(row.at(modifiedColumn).toDateTime() > first.first().at(modifiedColumn).toDateTime());
    }
}

void TestItems::removingNeverCommittedItem()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("title"), QStringLiteral("a"));
    removeItem(id);
    QCOMPARE(rowsOf("uncommitted_create"), 0);
    QCOMPARE(rowsOf("uncommitted_set"), 0);
    QCOMPARE(rowsWhere("uncommitted_remove", "id", id).size(), 1);
    QCOMPARE(rowsOf("items"), 0);
    QCOMPARE(rowsOf("skrin"), 0);
    removeItem(id);
    QCOMPARE(rowsOf("uncommitted_remove"), 1);
}

void TestItems::removeLeavesChildrenAndFavourites()
{
    const Id shot = createItem(skrin);
    const Id picture = createItem(image);
    setMember(picture, QStringLiteral("parent"), shot);
    setFavourite(shot, true);
    removeItem(shot);
    QCOMPARE(itemType(picture), image);
    QCOMPARE(rowsOf("favourite"), 1);
}

void TestItems::translatedIdsKeepWorking()
{
    createItem(skrin);
    createItem(skrin);
    const Id shot = createItem(skrin); // -3
    QCOMPARE(shot, Id(-3));
    setMember(shot, QStringLiteral("title"), QStringLiteral("before"));
    const Id picture = createItem(image);
    setMember(picture, QStringLiteral("parent"), shot);

    translateId(-3, 500);
    QCOMPARE(rowsWhere("skrin", "id", Id(500)).size(), 1);
    QCOMPARE(rowsWhere("skrin_image", "parent", Id(500)).size(), 1);

    // Reads, writes, filters, parent values and notifications keep using -3.
    QCOMPARE(getMember(-3, QStringLiteral("title")).toString(), QStringLiteral("before"));
    QCOMPARE(getMember(picture, QStringLiteral("parent")), QVariant(Id(-3)));
    QCOMPARE(readItem(-3).value(QStringLiteral("id")), QVariant(Id(-3)));
    QCOMPARE(findItems({{QStringLiteral("type"), image}, {QStringLiteral("parent"), Id(-3)}}), QList<Id>{picture});
    QCOMPARE(findItems({{QStringLiteral("id"), Id(-3)}}), QList<Id>{-3});
    QCOMPARE(childItems(-3), QList<Id>{picture});

    InterfaceRecorder recorder;
    recorder.watch({{QStringLiteral("id"), Id(-3)}, {QStringLiteral("title"), QVariant()}});
    QCOMPARE(recorder.events, (QStringList{QStringLiteral("plus -3"), QStringLiteral("init")}));
    recorder.events.clear();
    setMember(-3, QStringLiteral("title"), QStringLiteral("after"));
    QCOMPARE(recorder.events, (QStringList{QStringLiteral("set -3 title=after"), QStringLiteral("set title=after")}));

    const Id other = createItem(image);
    setMember(other, QStringLiteral("parent"), Id(-3));
    QCOMPARE(rowsWhere("skrin_image", "parent", Id(500)).size(), 2);

    setFavourite(-3, true);
    QVERIFY(isFavourite(-3));
    removeItem(-3);
    QCOMPARE(recorder.events.mid(2), (QStringList{QStringLiteral("minus -3"), QStringLiteral("remove")}));
    QCOMPARE(rowsWhere("uncommitted_remove", "id", Id(500)).size(), 1);
}

void TestItems::filesAreFreedWhenUnreferenced()
{
    const Id a = createItem(skrin);
    const Id b = createItem(skrin);
    setMemberFile(a, QStringLiteral("file"), "first");
    const QString first = getMember(a, QStringLiteral("file")).toString();
    QVERIFY(!first.isEmpty());
    QCOMPARE(itemFileData(a, QStringLiteral("file")), QByteArray("first"));
    setMember(b, QStringLiteral("file"), first);

    setMemberFile(a, QStringLiteral("file"), "second");
    QVERIFY(Database::fileExists(first)); // b still names it
    setMember(b, QStringLiteral("file"), first); // same name: frees nothing
    QVERIFY(Database::fileExists(first));
    QVERIFY(Database::flush());
    QVERIFY(Database::fileExists(first));
    setMember(b, QStringLiteral("file"), QString());
    QVERIFY(Database::flush()); // removed files go with the next flush
    QVERIFY(!Database::fileExists(first));

    const QString second = getMember(a, QStringLiteral("file")).toString();
    removeItem(a);
    QVERIFY(Database::flush());
    QVERIFY(!Database::fileExists(second));

    // No file is stored for an item that is not there.
    const int before = QDir(store->dir.path() + QStringLiteral("/files")).entryList(QDir::Files).size();
    setMemberFile(-1234, QStringLiteral("file"), "orphan");
    Database::flush();
    QCOMPARE(QDir(store->dir.path() + QStringLiteral("/files")).entryList(QDir::Files).size(), before);
}

void TestItems::waitingFileMembers()
{
    QSignalSpy downloads(TavrinConnector::instance(), &TavrinConnector::downloadFileSignal);
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("file"), QStringLiteral("%downloading%"));
    QCOMPARE(getMember(id, QStringLiteral("file")), QVariant());
    QCOMPARE(downloads.size(), 0);

    const int table = Database::tableId(QStringLiteral("downloads"));
    Database::insertRow(table, {{Database::columnId(table, QStringLiteral("url")), QStringLiteral("http://127.0.0.1:1/f")},
                                {Database::columnId(table, QStringLiteral("id")), id},
                                {Database::columnId(table, QStringLiteral("member")), QStringLiteral("file")}});
    QCOMPARE(getMember(id, QStringLiteral("file")), QVariant());
    QCOMPARE(readItem(id).value(QStringLiteral("file")), QVariant());
    QCOMPARE(downloads.size(), 2);
    QCOMPARE(downloads.first().first().toString(), QStringLiteral("http://127.0.0.1:1/f"));
    QCOMPARE(readItem(id, true).value(QStringLiteral("file")).toString(), QStringLiteral("%downloading%"));
    QCOMPARE(itemFileData(id, QStringLiteral("file")), QByteArray());

    // Setting the member locally ends the wait.
    setMember(id, QStringLiteral("file"), QStringLiteral("local.jpg"));
    QCOMPARE(Database::rowCount(table), 0);
    QCOMPARE(getMember(id, QStringLiteral("file")).toString(), QStringLiteral("local.jpg"));
}

void TestItems::options()
{
    QCOMPARE(optionValue(QStringLiteral("missing"), 5), QVariant(5));
    setOption(QStringLiteral("nulled"), QVariant());
    QCOMPARE(optionValue(QStringLiteral("nulled"), QStringLiteral("d")), QVariant(QStringLiteral("d")));
    setOption(QStringLiteral("name"), 1);
    setOption(QStringLiteral("name"), 2);
    QCOMPARE(optionValue(QStringLiteral("name")), QVariant(2));
    QCOMPARE(rowsWhere("options", "name", QStringLiteral("name")).size(), 1);
    QCOMPARE(userId(), Id(0));

    QVERIFY(serverOptionValue(QStringLiteral("quality"), 85) == QVariant(85));
    const Id option = createItem(QStringLiteral("server_option"));
    setMember(option, QStringLiteral("name"), QStringLiteral("quality"));
    setMember(option, QStringLiteral("value"), 70);
    QCOMPARE(serverOptionValue(QStringLiteral("quality"), 85).toInt(), 70);

    QVERIFY(store->restart());
    QCOMPARE(optionValue(QStringLiteral("name")).toInt(), 2);
    QCOMPARE(serverOptionValue(QStringLiteral("quality"), 85).toInt(), 70);
}

void TestItems::findItemsFilters()
{
    const Id a = createItem(skrin);
    const Id b = createItem(skrin);
    setMember(a, QStringLiteral("handle"), QStringLiteral("abcde"));
    setMember(b, QStringLiteral("title"), QStringLiteral("titled"));
    const Id favourite = createItem(QStringLiteral("favourite"));

    QVERIFY(findItems({}).isEmpty());
    QVERIFY(findItems({{QStringLiteral("parent"), Id(0)}}).isEmpty());
    QCOMPARE(asSet(findItems({{QStringLiteral("type"), skrin}})), (QSet<Id>{a, b}));
    QCOMPARE(findItems({{QStringLiteral("type"), skrin}, {QStringLiteral("handle"), QStringLiteral("abcde")}}),
             QList<Id>{a});
    QCOMPARE(findItems({{QStringLiteral("type"), skrin}, {QStringLiteral("title"), QVariant()}}), QList<Id>{b});
    QCOMPARE(findItems({{QStringLiteral("id"), a}}), QList<Id>{a});
    QVERIFY(findItems({{QStringLiteral("id"), Id(-77)}}).isEmpty());
    QCOMPARE(findItems({{QStringLiteral("id"), a}, {QStringLiteral("type"), QStringLiteral("favourite")}}),
             QList<Id>{a});
    // Ids given as text are ids; 2.7 is none.
    QCOMPARE(findItems({{QStringLiteral("id"), QString::number(b)}}), QList<Id>{b});
    QVERIFY(findItems({{QStringLiteral("id"), 2.7}}).isEmpty());
    // A key that is not a column matches nothing.
    QVERIFY(findItems({{QStringLiteral("type"), skrin}, {QStringLiteral("nothing"), 1}}).isEmpty());
    QCOMPARE(findFirstItem({{QStringLiteral("type"), QStringLiteral("favourite")}}), favourite);
    QCOMPARE(findFirstItem({{QStringLiteral("type"), QStringLiteral("share")}}), Id(0));
    QCOMPARE(readFirstItem({{QStringLiteral("handle"), QStringLiteral("abcde")}, {QStringLiteral("type"), skrin}})
                 .value(QStringLiteral("id")),
             QVariant(a));
    // A null type asks for any type.
    QCOMPARE(asSet(findItems({{QStringLiteral("type"), QVariant()}})), (QSet<Id>{a, b, favourite}));
}

void TestItems::nullFilterValuesNeedASetCell()
{
    // "parent" and "handle" are both indexed: the search must still test the
    // null entry, as the watchers do.
    const Id parent = createItem(skrin);
    const Id withHandle = createItem(skrin);
    const Id without = createItem(skrin);
    setMember(withHandle, QStringLiteral("parent"), parent);
    setMember(without, QStringLiteral("parent"), parent);
    setMember(withHandle, QStringLiteral("handle"), QStringLiteral("h1"));
    const WatchFilter filter{{QStringLiteral("type"), skrin},
                             {QStringLiteral("parent"), parent},
                             {QStringLiteral("handle"), QVariant()}};
    QCOMPARE(findItems(filter), QList<Id>{withHandle});
    QVERIFY(store->restart()); // loaded rows are indexed with their null cells
    QCOMPARE(findItems(filter), QList<Id>{withHandle});
    QCOMPARE(findItems({{QStringLiteral("type"), skrin}, {QStringLiteral("handle"), QVariant()}}), QList<Id>{withHandle});
}

void TestItems::childrenAndTrees()
{
    const Id shot = createItem(skrin);
    QSet<Id> children;
    for (const char *type : {"skrin_image", "skrin_pen", "skrin_text", "skrin_pin"}) {
        const Id child = createItem(QString::fromLatin1(type));
        setMember(child, QStringLiteral("parent"), shot);
        children.insert(child);
    }
    const Id share = createItem(QStringLiteral("share"));
    setMember(share, QStringLiteral("item_id"), shot);
    setFavourite(shot, true);
    QCOMPARE(asSet(childItems(shot)), children);

    const Id grandchild = createItem(QStringLiteral("skrin_pen"));
    setMember(grandchild, QStringLiteral("parent"), *children.cbegin());
    removeItemTree(shot);
    QCOMPARE(itemType(shot), QString());
    for (const Id child : std::as_const(children))
        QCOMPARE(itemType(child), QString());
    QCOMPARE(itemType(grandchild), QStringLiteral("skrin_pen"));
    QCOMPARE(itemType(share), QStringLiteral("share"));
}

void TestItems::favourites()
{
    const Id shot = createItem(skrin);
    QVERIFY(!isFavourite(shot));
    setFavourite(shot, true);
    setFavourite(shot, true);
    QCOMPARE(rowsOf("favourite"), 1);
    QVERIFY(isFavourite(shot));
    const Id favourite = findFirstItem({{QStringLiteral("type"), QStringLiteral("favourite")}});
    QCOMPARE(rowsWhere("uncommitted_create", "id", favourite).size(), 1);
    QCOMPARE(rowsWhere("uncommitted_set", "id", favourite).size(), 1);

    const Id duplicate = createItem(QStringLiteral("favourite"));
    setMember(duplicate, QStringLiteral("item_id"), shot);
    setFavourite(shot, false);
    QCOMPARE(rowsOf("favourite"), 0);
    QVERIFY(!isFavourite(shot));
}

void TestItems::readItemsAndFilterBuilders()
{
    const Id a = createItem(skrin);
    setMember(a, QStringLiteral("title"), QStringLiteral("t"));
    setMember(a, QStringLiteral("parent"), Id(-50));
    createItem(skrin); // no title: not listed

    WatchFilter filter;
    withMember(filter, QStringLiteral("type"), skrin);
    withMembers(filter, QStringLiteral(" title , parent"));
    const QVariantList items = readItems(filter);
    QCOMPARE(items.size(), 1);
    const QVariantMap item = items.first().toMap();
    QCOMPARE(item.keys(), (QStringList{QStringLiteral("id"), QStringLiteral("parent"), QStringLiteral("title")}));
    QCOMPARE(item.value(QStringLiteral("id")), QVariant(a));
    QCOMPARE(item.value(QStringLiteral("parent")), QVariant(Id(-50)));

    WatchFilter blanks;
    withMembers(blanks, QStringLiteral(" a ,, b "));
    QCOMPARE(blanks.keys(), (QStringList{QString(), QStringLiteral("a"), QStringLiteral("b")}));
    QVERIFY(blanks.value(QStringLiteral("a")).isNull());
}

void TestItems::pixmapOfMissingFileStartsNothing()
{
    const Id id = createItem(skrin);
    setMember(id, QStringLiteral("file"), QStringLiteral("missing.jpg"));
    QVERIFY(itemPixmap(id, QStringLiteral("file")).isNull());
    QVERIFY(itemPixmap(id, QStringLiteral("title")).isNull());
}

QTEST_MAIN(TestItems)
#include "tst_items.moc"
