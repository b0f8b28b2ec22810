// Hostile and broken commit answers: nothing crashes, nothing outside the data
// folder is read or written, bad entries are skipped and good ones apply.

#include "syncfixture.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>

using namespace synctest;

class TestHostile : public QObject, SyncCase
{
    Q_OBJECT
    // A committed screenshot with a local file, and one item whose create is pending.
    Id skrin = 0, onServer = 0, pending = 0;
    QByteArray image;

private slots:
    void init()
    {
        QVERIFY(startClient());
        image = pngBytes(7);
        skrin = createItem("skrin");
        setMember(skrin, "title", "original");
        setMemberFile(skrin, "file", image);
        QVERIFY(syncAll());
        onServer = localToServer().value(skrin);
        QVERIFY(onServer > 0);
        pending = createItem("skrin_text");
        setMember(pending, "parent", skrin);
        setMember(pending, "data", "note");
    }
    void cleanup() { stopClient(); }
    void cleanupTestCase() { shutdownBackground(); }

    // Each clash answer takes a new store id, whose serials start at 1; the
    // first is retried at once, a second in a row waits. The create keeps its
    // records and its token.
    void clashesRenewTheStoreId()
    {
        const qsizetype sent = server->requests().size();
        server->setForcedResult(5, 2);
        QVERIFY(!commitOnce());
        QCOMPARE(server->requests().size(), sent + 2);
        QVERIFY(syncAll());
        QSet<QString> stores, tokens;
        QStringList serials;
        for (const TestServer::Request &request : server->requests().mid(sent)) {
            stores.insert(request.fields.value("store"));
            tokens.insert(QJsonDocument::fromJson(request.fields.value("create").toUtf8())[0]["token"].toString());
            serials.append(request.fields.value("serial"));
        }
        QCOMPARE(stores.size(), 3);
        QVERIFY(stores.contains(optionValue("store_id").toString()));
        QCOMPARE(serials.mid(1), (QStringList{"1", "1"}));
        QCOMPARE(tokens.size(), 1);
        QCOMPARE(server->itemIds("skrin_text").size(), 1);
        // A poll can clash too: it goes again at once under a new id.
        server->setForcedResult(5, 1);
        QVERIFY(commitOnce());
        QVERIFY(!stores.contains(optionValue("store_id").toString()));
        QCOMPARE(server->requests().constLast().fields.value("serial"), "1");
    }

    // A serial out of bounds, told by the service or found on disk, never
    // stops syncing: the one told is ignored, the one stored gives a new
    // store id. Nothing clashes, nothing overflows.
    void serialsStayInBounds_data()
    {
        QTest::addColumn<QVariant>("told");
        QTest::addColumn<QVariant>("stored");
        const qint64 top = std::numeric_limits<qint64>::max();
        QTest::newRow("told the largest") << QVariant(top) << QVariant();
        QTest::newRow("told 2^53") << QVariant(qint64(1) << 53) << QVariant();
        QTest::newRow("stored the largest") << QVariant() << QVariant(top);
        QTest::newRow("stored 2^53 - 1") << QVariant() << QVariant((qint64(1) << 53) - 1);
        QTest::newRow("stored below 0") << QVariant() << QVariant(qint64(-3));
        QTest::newRow("stored text") << QVariant() << QVariant("abc");
    }
    void serialsStayInBounds()
    {
        QFETCH(QVariant, told);
        QFETCH(QVariant, stored);
        const QString store = optionValue("store_id").toString();
        if (told.isValid())
            server->injectAnswerMember("serial", QJsonValue::fromVariant(told));
        else
            setOption("commit_serial", stored);
        QVERIFY(syncAll());
        QVERIFY(commitOnce());
        const QList<TestServer::Request> &sent = server->requests();
        const qint64 last = sent.constLast().fields.value("serial").toLongLong();
        QVERIFY(last >= 2 && last < 100);
        QCOMPARE(optionValue("store_id").toString() == store, told.isValid());
        QCOMPARE(server->clashes(), 0);
        QCOMPARE(server->itemIds("skrin_text").size(), 1);
    }

    void badTranslationsAreSkipped_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("negative") << QJsonValue(-5);
        QTest::newRow("zero") << QJsonValue(0);
        QTest::newRow("text") << QJsonValue("abc");
        QTest::newRow("number as text") << QJsonValue("1500");
        QTest::newRow("fraction") << QJsonValue(1500.5);
        QTest::newRow("list") << QJsonValue(QJsonArray{1500});
        QTest::newRow("null") << QJsonValue();
        QTest::newRow("taken") << QJsonValue(qint64(-1)); // replaced by the committed item's id below
    }
    void badTranslationsAreSkipped()
    {
        QFETCH(QJsonValue, value);
        if (value == QJsonValue(qint64(-1)))
            value = QJsonValue(onServer);
        server->injectTranslation(QString::number(pending), value);
        server->injectTranslation("abc", 5000);
        server->injectTranslation("-424242", 5001);                 // not a create of this commit
        server->injectTranslation(QString::number(onServer), 5002); // not a local id
        server->setMember(onServer, "desc", "good entry");

        QVERIFY(commitOnce());
        // The bad translation left the item local, with its records kept ...
        QVERIFY(!localToServer().contains(pending));
        QVERIFY(Database::findRow(storeTables().itemsTable, storeTables().itemsIdColumn, QVariant(pending)) > 0);
        QCOMPARE(rowsOf("uncommitted_create"), 1);
        for (const Id id : {5000, 5001, 5002})
            QVERIFY(!serverToLocal().contains(id));
        QCOMPARE(localToServer().value(skrin), onServer);
        // ... and the rest of the answer applied.
        QCOMPARE(getMember(skrin, "desc").toString(), "good entry");

        // The next commit gets the true translation; no duplicate on the server.
        QVERIFY(syncAll());
        QVERIFY(localToServer().contains(pending));
        QCOMPARE(server->itemIds("skrin_text").size(), 1);
        QCOMPARE(server->member(localToServer().value(pending), "parent").toLongLong(), onServer);
        QCOMPARE(getMember(pending, "parent").toLongLong(), skrin);
    }

    // Two creates translated to one id: neither is taken, and the next
    // commit gets each its own by its token.
    void translationsSharingAnIdAreAllRefused()
    {
        const Id second = createItem("skrin_text");
        server->injectTranslation(QString::number(pending), 5000);
        server->injectTranslation(QString::number(second), 5000);
        QVERIFY(commitOnce());
        QVERIFY(!localToServer().contains(pending) && !localToServer().contains(second));
        QVERIFY(syncAll());
        const QList<qint64> texts = server->itemIds("skrin_text");
        QCOMPARE(texts.size(), 2);
        QCOMPARE((QSet<qint64>{localToServer().value(pending), localToServer().value(second)}),
                 QSet<qint64>(texts.begin(), texts.end()));
    }

    // A log-in whose answer brings the session is followed at once by the
    // commit of the waiting changes, and a clash of that one is sent again at
    // once under a new store id.
    void clashAfterALogInIsSentAgainAtOnce()
    {
        setOption("session", QString());
        int ends = 0;
        QObject scope;
        connect(TavrinConnector::instance(), &TavrinConnector::commitFinishedSignal, &scope, [&] {
            if (++ends == 1)
                server->setForcedResult(5, 1);
        });
        TavrinConnector::instance()->commit();
        QTRY_VERIFY(localToServer().contains(pending));
        QCOMPARE(ends, 3);
        QCOMPARE(server->itemIds("skrin_text").size(), 1);
    }

    // An id removed here and not yet committed is not free: the removal would
    // hit the new item on the service.
    void translationToAnIdRemovedHereIsSkipped()
    {
        insertRow("uncommitted_remove", {{"id", 7777}});
        server->injectTranslation(QString::number(pending), 7777);
        QVERIFY(commitOnce());
        QVERIFY(!localToServer().contains(pending));
        QVERIFY(syncAll());
        QVERIFY(localToServer().contains(pending));
        QVERIFY(localToServer().value(pending) != 7777);
    }

    // One answer with bad creates, sets and file addresses around good ones;
    // no file outside the data folder is read or written.
    void badEntriesAreSkippedGoodOnesApply()
    {
        QTemporaryDir outside;
        const QByteArray secret = "secret bytes outside the data folder";
        QFile sentinel(outside.filePath("secret.png"));
        QVERIFY(sentinel.open(QIODevice::WriteOnly) && sentinel.write(secret) == secret.size());
        sentinel.close();
        QVERIFY(Database::flush());
        const QStringList filesBefore = storedFileNames();
        const QString fileBefore = getMember(skrin, "file").toString();
        const int items = rowsOf("items");
        const QVariantMap before = readItem(skrin);

        const QList<std::pair<QJsonValue, QJsonValue>> badCreates{
            {5000, "items"}, {5001, "options"},  {5002, "uncommitted_set"}, {5003, "Skrin"},
            {5004, "../skrin"}, {5005, QJsonValue()}, {-5, "skrin"}, {0, "skrin"},
            {"abc", "skrin"}, {1.5, "skrin"}, {QJsonArray{7}, "skrin"}, {onServer, "skrin_pen"},
            {"5006", "skrin"},
        };
        for (const auto &[id, type] : badCreates)
            server->injectCreate(id, type);
        const QList<std::pair<QString, QJsonValue>> badSets{
            {"id", 1}, {"no_such_member", "x"}, {"type", "skrin_pen"}, {"owner", 5}, {"parent", -3},
            {"parent", "abc"}, {"parent", 2.5}, {"desc", QJsonArray{1, 2}}, {"desc", QJsonObject{{"a", 1}}},
            {"title; DROP TABLE items", "x"},
        };
        for (const auto &[member, value] : badSets)
            server->injectSet(onServer, member, value);
        server->injectSet(99999, "title", "nobody");
        server->injectSet("abc", "title", "nobody");
        server->injectSet(skrin, "title", "local ids are not the service's");
        // Other schemes, relative addresses, one over 1,024 characters on the service itself.
        const QStringList addresses{
            "file:///etc/passwd", "file:database.db", "qrc:/rc/icon.png", ":/rc/icon.png",
            "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==",
            "ftp://127.0.0.1/files/x.png", "/files/x.png", "../database.db",
            server->baseUrl() + "/files/" + QString(1100, u'a') + ".png",
            QUrl::fromLocalFile(sentinel.fileName()).toString(), sentinel.fileName(), "file:secret.png", fileBefore,
            "http://", "https:///files/x.png", "javascript:alert(1)"};
        for (const QString &address : std::as_const(addresses))
            server->injectSet(onServer, "file", address);
        // The good ones; the file address is on the service itself.
        server->injectCreate(6000, "skrin_pin");
        server->injectSet(onServer, "title", "good");
        server->injectSet(QString::number(onServer), "title", "an id as text");
        const qint64 other = server->createItem(mail, "skrin_image", {{"parent", onServer}});
        const QString good = server->setFileMember(other, "file", pngBytes(3));

        QVERIFY(commitOnce());
        QCOMPARE(rowsOf("items"), items + 2);
        QCOMPARE(itemType(6000), "skrin_pin");
        QCOMPARE(itemType(skrin), "skrin");
        for (const Id id : {5000, 5001, 5002, 5003, 5004, 5005, 5006, -5, 0, 99999})
            QVERIFY(itemType(id).isEmpty());
        QVariantMap after = readItem(skrin);
        QCOMPARE(after.value("title").toString(), "good");
        after.insert("title", before.value("title"));
        QCOMPARE(after, before);
        QCOMPARE(itemFileData(skrin, "file"), image);
        QVERIFY(localToServer().contains(pending));

        QCOMPARE(rowsOf("downloads"), 1);
        QCOMPARE(downloadUrl(other), good);
        QVERIFY(getMember(other, "file").isNull());
        QTRY_VERIFY(!getMember(other, "file").toString().isEmpty());
        QCOMPARE(server->requestCount("/files/"), 1);
        QVERIFY(Database::flush());
        const QStringList filesAfter = storedFileNames();
        QCOMPARE(filesAfter.size(), filesBefore.size() + 1);
        for (const QString &name : filesAfter)
            QVERIFY(Database::fileData(name) != secret);
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{"secret.png"});
        QDirIterator walk(QFileInfo(dir.path()).absolutePath(), {"*.png"}, QDir::Files);
        while (walk.hasNext())
            QVERIFY(!walk.next().contains("database.db"));
    }

    // A page with "more" that does not move "state" forward is applied but
    // ends the paging: no poll follows at once.
    void pagingThatStandsStillStops_data()
    {
        QTest::addColumn<QJsonObject>("page");
        QTest::newRow("no state") << QJsonObject{{"state", QJsonValue()}};
        QTest::newRow("state as text") << QJsonObject{{"state", "99999"}};
        QTest::newRow("same state") << QJsonObject{};
        QTest::newRow("state backwards") << QJsonObject{{"state", 0}};
        QTest::newRow("set not a list") << QJsonObject{{"state", 99999}, {"set", "x"}};
    }
    void pagingThatStandsStillStops()
    {
        QFETCH(QJsonObject, page);
        page.insert("more", true);
        if (!page.contains("state"))
            page.insert("state", optionValue("state").toLongLong());
        for (auto it = page.begin(); it != page.end(); ++it)
            server->injectAnswerMember(it.key(), it.value());
        const int polls = server->requestCount("/tavrin-engine");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\"more\" without"));
        QVERIFY(commitOnce());
        QCOMPARE(server->requestCount("/tavrin-engine"), polls + 1);
        QVERIFY(localToServer().contains(pending));
    }

    void brokenAnswersApplyNothingBad_data()
    {
        QTest::addColumn<TestServer::Fault>("fault");
        QTest::addColumn<QJsonObject>("replaced"); // members of the answer
        QTest::addColumn<bool>("ok");
        using F = TestServer::Fault;
        QTest::newRow("malformed") << F::Malformed << QJsonObject() << false;
        QTest::newRow("empty") << F::Empty << QJsonObject() << false;
        QTest::newRow("deeply nested") << F::DeeplyNested << QJsonObject() << false;
        QTest::newRow("huge") << F::Huge << QJsonObject() << true;
        QTest::newRow("result as text") << F::None << QJsonObject{{"result", "0"}} << false;
        QTest::newRow("result out of range") << F::None << QJsonObject{{"result", 17}} << false;
        QTest::newRow("translate as list") << F::None << QJsonObject{{"translate", QJsonArray{1}}} << true;
        QTest::newRow("create as object") << F::None << QJsonObject{{"create", QJsonObject{{"id", 5}}}} << true;
        QTest::newRow("set as text") << F::None << QJsonObject{{"set", "x"}} << true;
        QTest::newRow("remove as text") << F::None << QJsonObject{{"remove", "everything"}} << true;
        QTest::newRow("state as list") << F::None << QJsonObject{{"state", QJsonArray{1}}} << true;
        QTest::newRow("session as object") << F::None << QJsonObject{{"session", QJsonObject{{"a", 1}}}} << true;
        QTest::newRow("user negative") << F::None << QJsonObject{{"user", -4}} << true;
    }
    void brokenAnswersApplyNothingBad()
    {
        QFETCH(TestServer::Fault, fault);
        QFETCH(QJsonObject, replaced);
        QFETCH(bool, ok);
        server->setFault(fault, 1);
        for (auto it = replaced.begin(); it != replaced.end(); ++it)
            server->injectAnswerMember(it.key(), it.value());
        const QString session = optionValue("session").toString();
        const qint64 state = optionValue("state").toLongLong();
        const int failures = commitFailures;

        QCOMPARE(commitOnce(), ok);
        QCOMPARE(commitFailures, ok ? 0 : failures + 1);
        QCOMPARE(itemType(skrin), "skrin");
        QCOMPARE(getMember(skrin, "title").toString(), "original");
        QCOMPARE(optionValue("session").toString(), session);
        QVERIFY(userId() > 0);
        if (!ok) {
            QCOMPARE(optionValue("state").toLongLong(), state);
            QCOMPARE(rowsOf("uncommitted_create"), 1);
        }
        // A clean commit afterwards sets everything right, with no duplicate.
        QVERIFY(syncAll());
        QVERIFY(localToServer().contains(pending));
        QCOMPARE(server->itemIds("skrin_text").size(), 1);
        QCOMPARE(server->itemIds("skrin").size(), 1);
        QCOMPARE(getMember(pending, "data").toString(), "note");
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
