// Hostile and broken commit answers: nothing crashes, nothing outside the data
// folder is read or written, bad entries are skipped and good ones apply.

#include "syncfixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

using namespace synctest;

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void badTranslationsAreSkipped_data();
    void badTranslationsAreSkipped();
    void badCreatesAreSkipped();
    void badSetsAreSkipped();
    void hostileFileAddressesAreNeverFetched();
    void brokenAnswersApplyNothingBad_data();
    void brokenAnswersApplyNothingBad();

private:
    // A committed screenshot with a local file, and one item whose create is
    // pending.
    void prepare();
    QStringList storedFileNames() const;

    QTemporaryDir dir;
    TestServer *server = nullptr;
    Id skrin = 0;
    Id onServer = 0;
    Id pending = 0;
    QByteArray image;
};

void TestHostile::init()
{
    server = new TestServer(this);
    QVERIFY(server->listen());
    QVERIFY(freshClient(*server, dir.path()));
    prepare();
}

void TestHostile::cleanup()
{
    settle();
    delete server;
    server = nullptr;
}

void TestHostile::cleanupTestCase()
{
    shutdownBackground();
}

void TestHostile::prepare()
{
    image = pngBytes(7);
    skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("original"));
    setMemberFile(skrin, QStringLiteral("file"), image);
    QVERIFY(syncAll());
    onServer = tempIdToServerId.value(skrin);
    QVERIFY(onServer > 0);
    pending = createItem(QStringLiteral("skrin_text"));
    setMember(pending, QStringLiteral("parent"), skrin);
    setMember(pending, QStringLiteral("data"), QStringLiteral("note"));
}

QStringList TestHostile::storedFileNames() const
{
    return QDir(dir.path() + QStringLiteral("/files")).entryList(QDir::Files);
}

void TestHostile::badTranslationsAreSkipped_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::newRow("negative") << QJsonValue(-5);
    QTest::newRow("zero") << QJsonValue(0);
    QTest::newRow("text") << QJsonValue(QStringLiteral("abc"));
    QTest::newRow("fraction") << QJsonValue(1500.5);
    QTest::newRow("list") << QJsonValue(QJsonArray{1500});
    QTest::newRow("null") << QJsonValue();
    QTest::newRow("taken") << QJsonValue(qint64(-1)); // replaced by the committed item's id below
}

void TestHostile::badTranslationsAreSkipped()
{
    QFETCH(QJsonValue, value);
    if (value == QJsonValue(qint64(-1)))
        value = QJsonValue(onServer);
    server->injectTranslation(QString::number(pending), value);
    server->injectTranslation(QStringLiteral("abc"), 5000);
    server->injectTranslation(QStringLiteral("-424242"), 5001); // not a create of this commit
    server->injectTranslation(QString::number(onServer), 5002); // not a local id
    server->setMember(onServer, QStringLiteral("desc"), QStringLiteral("good entry"));

    QVERIFY(commitOnce());
    // The bad translation left the item local, with its records kept ...
    QVERIFY(!tempIdToServerId.contains(pending));
    QVERIFY(Database::findRow(itemsTable, itemsIdColumn, QVariant(pending)) > 0);
    QCOMPARE(rowsOf("uncommitted_create"), 1);
    QVERIFY(!serverIdToTempId.contains(5000) && !serverIdToTempId.contains(5001)
            && !serverIdToTempId.contains(5002));
    QCOMPARE(tempIdToServerId.value(skrin), onServer);
    // ... and the rest of the answer applied.
    QCOMPARE(getMember(skrin, QStringLiteral("desc")).toString(), QStringLiteral("good entry"));

    // The next commit gets the true translation; no duplicate on the server.
    QVERIFY(syncAll());
    QVERIFY(tempIdToServerId.contains(pending));
    QCOMPARE(server->itemIds(QStringLiteral("skrin_text")).size(), 1);
    QCOMPARE(server->member(tempIdToServerId.value(pending), QStringLiteral("parent")).toLongLong(), onServer);
    QCOMPARE(getMember(pending, QStringLiteral("parent")).toLongLong(), skrin);
}

void TestHostile::badCreatesAreSkipped()
{
    const int items = rowsOf("items");
    const QList<QPair<QJsonValue, QJsonValue>> bad{
        {5000, QStringLiteral("items")},          {5001, QStringLiteral("options")},
        {5002, QStringLiteral("uncommitted_set")}, {5003, QStringLiteral("Skrin")},
        {5004, QStringLiteral("../skrin")},       {5005, QJsonValue()},
        {-5, QStringLiteral("skrin")},            {0, QStringLiteral("skrin")},
        {QStringLiteral("abc"), QStringLiteral("skrin")}, {1.5, QStringLiteral("skrin")},
        {QJsonArray{7}, QStringLiteral("skrin")},  {onServer, QStringLiteral("skrin_pen")},
    };
    for (const auto &entry : bad)
        server->injectCreate(entry.first, entry.second);
    server->injectCreate(6000, QStringLiteral("skrin_pin"));

    QVERIFY(commitOnce());
    QCOMPARE(rowsOf("items"), items + 1);
    QCOMPARE(itemType(6000), QStringLiteral("skrin_pin"));
    QCOMPARE(itemType(skrin), QStringLiteral("skrin"));
    for (const Id id : {5000, 5001, 5002, 5003, 5004, 5005, -5, 0})
        QVERIFY(itemType(id).isEmpty());
    QCOMPARE(rowsOf("uncommitted_create"), 0); // remote creates record nothing
    QVERIFY(tempIdToServerId.contains(pending));
}

void TestHostile::badSetsAreSkipped()
{
    const QVariantMap before = readItem(skrin);
    server->injectSet(onServer, QStringLiteral("title"), QStringLiteral("good"));
    server->injectSet(onServer, QStringLiteral("id"), 1);
    server->injectSet(onServer, QStringLiteral("no_such_member"), QStringLiteral("x"));
    server->injectSet(onServer, QStringLiteral("type"), QStringLiteral("skrin_pen"));
    server->injectSet(onServer, QStringLiteral("owner"), 5);
    server->injectSet(onServer, QStringLiteral("parent"), -3);
    server->injectSet(onServer, QStringLiteral("parent"), QStringLiteral("abc"));
    server->injectSet(onServer, QStringLiteral("parent"), 2.5);
    server->injectSet(onServer, QStringLiteral("desc"), QJsonArray{1, 2});
    server->injectSet(onServer, QStringLiteral("desc"), QJsonObject{{QStringLiteral("a"), 1}});
    server->injectSet(onServer, QStringLiteral("title; DROP TABLE items"), QStringLiteral("x"));
    server->injectSet(99999, QStringLiteral("title"), QStringLiteral("nobody"));
    server->injectSet(QStringLiteral("abc"), QStringLiteral("title"), QStringLiteral("nobody"));
    server->injectSet(skrin, QStringLiteral("title"), QStringLiteral("local ids are not the service's"));

    QVERIFY(commitOnce());
    QVariantMap after = readItem(skrin);
    QCOMPARE(after.value(QStringLiteral("title")).toString(), QStringLiteral("good"));
    after.insert(QStringLiteral("title"), before.value(QStringLiteral("title")));
    QCOMPARE(after, before);
    QVERIFY(itemType(99999).isEmpty());
    QCOMPARE(rowsOf("uncommitted_set"), 0);
}

void TestHostile::hostileFileAddressesAreNeverFetched()
{
    // A file next to the data folder that no answer may bring in.
    QTemporaryDir outside;
    const QByteArray secret = QByteArrayLiteral("secret bytes outside the data folder");
    QFile sentinel(outside.filePath(QStringLiteral("secret.png")));
    QVERIFY(sentinel.open(QIODevice::WriteOnly));
    sentinel.write(secret);
    sentinel.close();

    QVERIFY(Database::flush());
    const QStringList filesBefore = storedFileNames();
    const QString fileBefore = getMember(skrin, QStringLiteral("file")).toString();

    QStringList addresses = server->hostileFileAddresses();
    addresses << QUrl::fromLocalFile(sentinel.fileName()).toString() << sentinel.fileName()
              << QStringLiteral("file:secret.png") << fileBefore << QStringLiteral("http://")
              << QStringLiteral("https:///files/x.png") << QStringLiteral("javascript:alert(1)");
    for (const QString &address : std::as_const(addresses))
        server->injectSet(onServer, QStringLiteral("file"), address);
    // The good entry of the answer: an address on the service itself.
    const qint64 other =
        server->createItem(mail, QStringLiteral("skrin_image"), {{QStringLiteral("parent"), onServer}});
    const QString good = server->setFileMember(other, QStringLiteral("file"), pngBytes(3));

    QVERIFY(commitOnce());
    QCOMPARE(getMember(skrin, QStringLiteral("file")).toString(), fileBefore);
    QCOMPARE(itemFileData(skrin, QStringLiteral("file")), image);
    QCOMPARE(rowsOf("downloads"), 1);
    QCOMPARE(Database::valueWhere(downloadsTable, Conditions{{downloadsIdColumn, QVariant(other)}},
                                  downloadsUrlColumn)
                 .toString(),
             good);

    QVERIFY(getMember(other, QStringLiteral("file")).isNull());
    QTRY_VERIFY(!getMember(other, QStringLiteral("file")).toString().isEmpty());
    QCOMPARE(fileRequests(*server), 1);
    QVERIFY(Database::flush());
    const QStringList filesAfter = storedFileNames();
    QCOMPARE(filesAfter.size(), filesBefore.size() + 1);
    for (const QString &name : filesAfter)
        QVERIFY(Database::fileData(name) != secret);
    // Nothing was written beside the data folder either.
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{QStringLiteral("secret.png")});
    QDirIterator walk(QFileInfo(dir.path()).absolutePath(), {QStringLiteral("*.png")}, QDir::Files);
    while (walk.hasNext())
        QVERIFY(!walk.next().contains(QLatin1String("database.db")));
}

void TestHostile::brokenAnswersApplyNothingBad_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QJsonValue>("replacement");
    QTest::addColumn<bool>("ok");
    using F = TestServer::Fault;
    const QString none;
    QTest::newRow("malformed") << int(F::Malformed) << none << QJsonValue() << false;
    QTest::newRow("empty") << int(F::Empty) << none << QJsonValue() << false;
    QTest::newRow("deeply nested") << int(F::DeeplyNested) << none << QJsonValue() << false;
    QTest::newRow("huge") << int(F::Huge) << none << QJsonValue() << true;
    QTest::newRow("http 500") << int(F::Http500) << none << QJsonValue() << false;
    QTest::newRow("result as text") << int(F::None) << QStringLiteral("result") << QJsonValue(QStringLiteral("0"))
                                    << false;
    QTest::newRow("result out of range") << int(F::None) << QStringLiteral("result") << QJsonValue(17) << false;
    QTest::newRow("translate as list") << int(F::None) << QStringLiteral("translate") << QJsonValue(QJsonArray{1})
                                       << true;
    QTest::newRow("create as object") << int(F::None) << QStringLiteral("create")
                                      << QJsonValue(QJsonObject{{QStringLiteral("id"), 5}}) << true;
    QTest::newRow("set as text") << int(F::None) << QStringLiteral("set") << QJsonValue(QStringLiteral("x")) << true;
    QTest::newRow("remove of the committed item as text")
        << int(F::None) << QStringLiteral("remove") << QJsonValue(QStringLiteral("everything")) << true;
    QTest::newRow("state as list") << int(F::None) << QStringLiteral("state") << QJsonValue(QJsonArray{1}) << true;
    QTest::newRow("session as object") << int(F::None) << QStringLiteral("session")
                                       << QJsonValue(QJsonObject{{QStringLiteral("a"), 1}}) << true;
    QTest::newRow("user negative") << int(F::None) << QStringLiteral("user") << QJsonValue(-4) << true;
}

void TestHostile::brokenAnswersApplyNothingBad()
{
    QFETCH(int, fault);
    QFETCH(QString, member);
    QFETCH(QJsonValue, replacement);
    QFETCH(bool, ok);
    server->setNestingDepth(5000);
    server->setHugeBodySize(2 * 1024 * 1024);
    if (fault != int(TestServer::Fault::None))
        server->setFault(TestServer::Fault(fault), 1);
    if (!member.isEmpty())
        server->injectAnswerMember(member, replacement);
    const QString session = optionValue(QStringLiteral("session")).toString();
    const qint64 state = optionValue(QStringLiteral("state")).toLongLong();
    const int failures = commitFailures;

    QCOMPARE(commitOnce(), ok);
    QCOMPARE(commitFailures, ok ? 0 : failures + 1);
    QVERIFY(itemType(skrin) == QStringLiteral("skrin"));
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("original"));
    QCOMPARE(optionValue(QStringLiteral("session")).toString(), session);
    QVERIFY(userId() > 0);
    if (!ok) {
        QCOMPARE(optionValue(QStringLiteral("state")).toLongLong(), state);
        QCOMPARE(rowsOf("uncommitted_create"), 1);
    }

    // A clean commit afterwards sets everything right, with no duplicate.
    QVERIFY(syncAll());
    QVERIFY(tempIdToServerId.contains(pending));
    QCOMPARE(server->itemIds(QStringLiteral("skrin_text")).size(), 1);
    QCOMPARE(server->itemIds(QStringLiteral("skrin")).size(), 1);
    QCOMPARE(getMember(pending, QStringLiteral("data")).toString(), QStringLiteral("note"));
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
