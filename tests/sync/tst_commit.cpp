// Commits against the loopback service: end to end, polling, failures and
// the commit's own upkeep (scheduling, remote calls, held-back files, images).

#include "syncfixture.h"

#include "imagecache.h"

#include <QTimer>

using namespace synctest;

namespace {

class Recorder : public WatcherInterface
{
public:
    QStringList events;
    void onPlus(Id id) override { events.append(QStringLiteral("plus %1").arg(id)); }
    void onSet(Id id, const QString &member, const QVariant &value) override
    {
        events.append(QStringLiteral("set %1 %2=%3").arg(id).arg(member, value.toString()));
    }
    void onMinus(Id id) override { events.append(QStringLiteral("minus %1").arg(id)); }
};

class AnswerReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap> answers;
public slots:
    void onAnswer(const QVariantMap &answer) { answers.append(answer); }
};

} // namespace

class TestCommit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void screenshotTravelsAndReadsTheSame();
    void remoteChangesArriveByPollWithoutEcho();
    void serverDownLosesNothing();
    void lostAnswerMakesNoDuplicate();
    void changeDuringCommitSurvivesTheAnswer();
    void resetForgetsTheCommitInFlight();
    void refusedAndWrongVersionAnswers();
    void schedulingAndCommitMode();
    void remoteCallsReachTheirReceiver();
    void tooBigFilesWaitForTheLimit();
    void imagesLoadInTheBackground();
    void shutdownStopsCommitting();

private:
    QTemporaryDir dir;
    TestServer *server = nullptr;
};

void TestCommit::init()
{
    server = new TestServer(this);
    QVERIFY(server->listen());
    QVERIFY(freshClient(*server, dir.path()));
}

void TestCommit::cleanup()
{
    settle();
    delete server;
    server = nullptr;
}

void TestCommit::cleanupTestCase()
{
    shutdownBackground();
}

void TestCommit::screenshotTravelsAndReadsTheSame()
{
    const QByteArray image = pngBytes(8);
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("holiday"));
    setMember(skrin, QStringLiteral("created"), QDateTime::currentDateTime());
    setMemberFile(skrin, QStringLiteral("file"), image);
    const Id picture = createItem(QStringLiteral("skrin_image"));
    setMember(picture, QStringLiteral("parent"), skrin);
    setMember(picture, QStringLiteral("w"), 8.0);
    const Id pen = createItem(QStringLiteral("skrin_pen"));
    setMember(pen, QStringLiteral("parent"), skrin);
    setMember(pen, QStringLiteral("data"), QStringLiteral("[0,0,4,4]"));
    setMember(pen, QStringLiteral("color"), QStringLiteral("#ff0000"));
    setFavourite(skrin, true);

    const QList<Id> ids{skrin, picture, pen};
    QList<QVariantMap> before;
    for (const Id id : ids)
        before.append(readItem(id));

    QVERIFY(syncAll());
    QVERIFY(isLastCommitOk());

    // Every item got its server id; the rows carry it, callers keep theirs.
    for (const Id id : ids) {
        QVERIFY(tempIdToServerId.contains(id));
        const Id serverId = tempIdToServerId.value(id);
        QVERIFY(serverId >= 1000);
        QVERIFY(server->hasItem(serverId));
        QCOMPARE(Database::findRow(itemsTable, itemsIdColumn, QVariant(id)), 0);
        QVERIFY(Database::findRow(itemsTable, itemsIdColumn, QVariant(serverId)) > 0);
    }
    for (qsizetype i = 0; i < ids.size(); ++i)
        QCOMPARE(readItem(ids.at(i)), before.at(i));

    const Id skrinOnServer = tempIdToServerId.value(skrin);
    QCOMPARE(server->member(tempIdToServerId.value(picture), QStringLiteral("parent")).toLongLong(), skrinOnServer);
    QCOMPARE(server->member(skrinOnServer, QStringLiteral("title")).toString(), QStringLiteral("holiday"));
    QCOMPARE(server->fileData(server->member(skrinOnServer, QStringLiteral("file")).toString()), image);
    const QList<qint64> favourites = server->itemIds(QStringLiteral("favourite"));
    QCOMPARE(favourites.size(), 1);
    QCOMPARE(server->member(favourites.first(), QStringLiteral("item_id")).toLongLong(), skrinOnServer);
    // The client keeps its own file; nothing waits for a download.
    QCOMPARE(itemFileData(skrin, QStringLiteral("file")), image);
    QCOMPARE(rowsOf("downloads"), 0);
    QVERIFY(nothingPending());
    QCOMPARE(getMember(skrinOnServer, QStringLiteral("title")).toString(), QStringLiteral("holiday"));
}

void TestCommit::remoteChangesArriveByPollWithoutEcho()
{
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("mine"));
    QVERIFY(syncAll());
    const Id onServer = tempIdToServerId.value(skrin);

    Recorder skrins;
    watchInterface({{QStringLiteral("type"), QStringLiteral("skrin")}}, &skrins);
    Recorder texts;
    watchInterface({{QStringLiteral("type"), QStringLiteral("skrin_text")}, {QStringLiteral("parent"), skrin}}, &texts);
    skrins.events.clear();

    server->setMember(onServer, QStringLiteral("title"), QStringLiteral("theirs"));
    const qint64 text = server->createItem(mail, QStringLiteral("skrin_text"),
                                           {{QStringLiteral("parent"), onServer},
                                            {QStringLiteral("data"), QStringLiteral("hello")}});
    const qint64 image =
        server->createItem(mail, QStringLiteral("skrin_image"), {{QStringLiteral("parent"), onServer}});
    const QByteArray bytes = pngBytes(6);
    server->setFileMember(image, QStringLiteral("file"), bytes);

    QVERIFY(commitOnce());
    settle();
    QVERIFY(skrins.events.contains(QStringLiteral("set %1 title=theirs").arg(skrin)));
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("theirs"));
    QVERIFY(texts.events.contains(QStringLiteral("plus %1").arg(text)));
    QCOMPARE(getMember(text, QStringLiteral("data")).toString(), QStringLiteral("hello"));
    QCOMPARE(getMember(text, QStringLiteral("parent")).toLongLong(), skrin);

    // Remote changes are not local edits: nothing goes back.
    QVERIFY(nothingPending());
    server->clearRequests();
    QVERIFY(commitOnce());
    QCOMPARE(lastField(*server, "set"), QStringLiteral("[]"));
    QCOMPARE(lastField(*server, "create"), QStringLiteral("[]"));

    // The file member reads as null until its file has been fetched.
    QVERIFY(getMember(image, QStringLiteral("file")).isNull());
    QTRY_VERIFY(!getMember(image, QStringLiteral("file")).toString().isEmpty());
    QCOMPARE(itemFileData(image, QStringLiteral("file")), bytes);
    QCOMPARE(rowsOf("downloads"), 0);

    // A removal on the server removes the item here, and is not sent back.
    server->removeItem(text);
    QVERIFY(commitOnce());
    settle();
    QVERIFY(itemType(text).isEmpty());
    QVERIFY(texts.events.contains(QStringLiteral("minus %1").arg(text)));
    QVERIFY(nothingPending());
    unwatchInterface(&skrins);
    unwatchInterface(&texts);
}

void TestCommit::serverDownLosesNothing()
{
    QVERIFY(commitOnce()); // logged in
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("kept"));
    const int pendingSets = rowsOf("uncommitted_set");

    server->setFault(TestServer::Fault::Http500);
    QVERIFY(!commitOnce());
    QCOMPARE(commitFailures, 1);
    QVERIFY(!commitOnce());
    QCOMPARE(commitFailures, 2);
    QVERIFY(!isLastCommitOk());
    QCOMPARE(rowsOf("uncommitted_create"), 1);
    QCOMPARE(rowsOf("uncommitted_set"), pendingSets);
    QVERIFY(server->itemIds(QStringLiteral("skrin")).isEmpty());

    server->setFault(TestServer::Fault::None);
    QVERIFY(syncAll());
    QCOMPARE(commitFailures, 0);
    const QList<qint64> skrins = server->itemIds(QStringLiteral("skrin"));
    QCOMPARE(skrins.size(), 1);
    QCOMPARE(server->member(skrins.first(), QStringLiteral("title")).toString(), QStringLiteral("kept"));
    QCOMPARE(tempIdToServerId.value(skrin), skrins.first());
}

void TestCommit::lostAnswerMakesNoDuplicate()
{
    QVERIFY(commitOnce());
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("once"));
    // Applied by the service, but the answer never arrives.
    server->setFault(TestServer::Fault::Http500, 1, true);
    QVERIFY(!commitOnce());
    QCOMPARE(server->itemIds(QStringLiteral("skrin")).size(), 1);
    QVERIFY(!tempIdToServerId.contains(skrin));

    QVERIFY(syncAll());
    const QList<qint64> skrins = server->itemIds(QStringLiteral("skrin"));
    QCOMPARE(skrins.size(), 1);
    QCOMPARE(tempIdToServerId.value(skrin), skrins.first());
}

void TestCommit::changeDuringCommitSurvivesTheAnswer()
{
    QVERIFY(commitOnce());
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("first"));
    setMember(skrin, QStringLiteral("desc"), QStringLiteral("unchanged"));

    server->setHoldAnswers(true);
    QSignalSpy finished(TavrinConnector::instance(), &TavrinConnector::commitFinishedSignal);
    TavrinConnector::instance()->commit();
    QTRY_COMPARE(server->heldAnswerCount(), 1);
    QVERIFY(isCommitRunning());
    setMember(skrin, QStringLiteral("title"), QStringLiteral("second"));
    TavrinConnector::instance()->commit(); // only asks for another one
    server->setHoldAnswers(false);
    server->releaseHeldAnswers();
    QTRY_VERIFY(finished.count() >= 1 && !isCommitRunning());
    // The flag sent the newer title straight away.
    QTRY_COMPARE(server->member(tempIdToServerId.value(skrin), QStringLiteral("title")).toString(),
                 QStringLiteral("second"));
    QTRY_VERIFY(nothingPending() && !isCommitRunning());
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("second"));
    QCOMPARE(server->member(tempIdToServerId.value(skrin), QStringLiteral("desc")).toString(),
             QStringLiteral("unchanged"));
}

void TestCommit::resetForgetsTheCommitInFlight()
{
    QVERIFY(commitOnce());
    createItem(QStringLiteral("skrin"));
    server->setHoldAnswers(true);
    TavrinConnector::instance()->commit();
    QTRY_COMPARE(server->heldAnswerCount(), 1);

    QSignalSpy reset(TavrinConnector::instance(), &TavrinConnector::resetSignal);
    QVERIFY(resetAndLogin(mail, hash));
    QCOMPARE(reset.count(), 1);
    QVERIFY(!isCommitRunning());
    QCOMPARE(optionValue(QStringLiteral("mail")).toString(), mail);
    QVERIFY(optionValue(QStringLiteral("session")).isNull());
    pointAt(server->endpoint());
    const Id fresh = createItem(QStringLiteral("skrin"));
    QVERIFY(fresh < -1); // the local id counter outlives the reset

    QSignalSpy finished(TavrinConnector::instance(), &TavrinConnector::commitFinishedSignal);
    server->setHoldAnswers(false);
    server->releaseHeldAnswers();
    QTest::qWait(200);
    // The old answer is ignored: the new store keeps its records.
    QCOMPARE(finished.count(), 0);
    QVERIFY(tempIdToServerId.isEmpty());
    QCOMPARE(rowsOf("uncommitted_create"), 1);
    QVERIFY(optionValue(QStringLiteral("session")).isNull());

    QVERIFY(syncAll());
    QVERIFY(tempIdToServerId.contains(fresh));
}

void TestCommit::refusedAndWrongVersionAnswers()
{
    QVERIFY(commitOnce());
    QSignalSpy wrongVersion(TavrinConnector::instance(), &TavrinConnector::wrongVersionSignal);
    server->setRequiredVersion(QStringLiteral("9.9.9"));
    QVERIFY(!commitOnce());
    QCOMPARE(wrongVersion.count(), 1);
    QCOMPARE(commitFailures, 1);
    server->setRequiredVersion(QString());

    // A refused log-in drops the session; the next commit logs in anew.
    server->setForcedResult(2, 1);
    QVERIFY(!commitOnce());
    QVERIFY(optionValue(QStringLiteral("session")).toString().isEmpty());
    createItem(QStringLiteral("skrin"));
    QVERIFY(syncAll());
    QVERIFY(!optionValue(QStringLiteral("session")).toString().isEmpty());
    QCOMPARE(server->itemIds(QStringLiteral("skrin")).size(), 1);
}

void TestCommit::schedulingAndCommitMode()
{
    TavrinConnector *connector = TavrinConnector::instance();
    QVERIFY(!commitTimer->isActive());
    connector->scheduleCommit(0);
    QVERIFY(!commitTimer->isActive());
    connector->scheduleCommit(60000);
    QVERIFY(commitTimer->isActive());
    QCOMPARE(commitDelayMs, 60000);
    // A later wish never delays a scheduled commit beyond its time.
    connector->scheduleCommit(90000);
    QVERIFY(commitDelayMs <= 90000 && commitDelayMs >= 100);
    QVERIFY(commitRemainingMs() > 0);

    // No window shows here: the check picks the long delay.
    commitModeDelayMs = 0;
    connector->commitModeCheck();
    QCOMPARE(commitModeDelayMs, 20000);
    QVERIFY(commitTimer->isActive());

    // The timer's commit clears the schedule.
    QSignalSpy finished(connector, &TavrinConnector::commitFinishedSignal);
    connector->scheduleCommit(1);
    QTRY_VERIFY(finished.count() >= 1 && !isCommitRunning());
    QCOMPARE(commitDelayMs, 0);
    QVERIFY(!commitTimer->isActive());
    // Nothing is scheduled while a commit is in flight.
    connector->commit();
    QVERIFY(isCommitRunning());
    connector->scheduleCommit(50);
    QVERIFY(!commitTimer->isActive());
    QTRY_VERIFY(!isCommitRunning());
}

void TestCommit::remoteCallsReachTheirReceiver()
{
    server->setExecHandler(QStringLiteral("handle_stats"), [](const TestServer::Request &request, qint64) {
        return QJsonObject{{QStringLiteral("views"), 7},
                           {QStringLiteral("handle"), request.fields.value(QStringLiteral("handle"))}};
    });
    TavrinConnector *connector = TavrinConnector::instance();
    AnswerReceiver receiver;
    const ConnectionId id = connector->exec(&receiver, SLOT(onAnswer(QVariantMap)), QStringLiteral("handle_stats"),
                                            {{QStringLiteral("handle"), QStringLiteral("abc")}});
    QVERIFY(id > 0);
    QTRY_COMPARE(receiver.answers.size(), 1);
    QCOMPARE(receiver.answers.first().value(QStringLiteral("result")).toInt(), 0);
    QCOMPARE(receiver.answers.first().value(QStringLiteral("views")).toInt(), 7);
    QCOMPARE(receiver.answers.first().value(QStringLiteral("handle")).toString(), QStringLiteral("abc"));
    QCOMPARE(lastField(*server, "action"), QStringLiteral("exec"));

    // An unknown call answers result 1.
    connector->exec(&receiver, SLOT(onAnswer(QVariantMap)), QStringLiteral("nothing"));
    QTRY_COMPARE(receiver.answers.size(), 2);
    QCOMPARE(receiver.answers.last().value(QStringLiteral("result")).toInt(), 1);

    // A receiver that goes first is forgotten.
    auto *gone = new AnswerReceiver;
    connector->exec(gone, SLOT(onAnswer(QVariantMap)), QStringLiteral("handle_stats"));
    QCOMPARE(execRequests.size(), 1);
    delete gone;
    QVERIFY(execRequests.isEmpty());
    QTest::qWait(100);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^exec: ")));
    QCOMPARE(connector->exec(&receiver, SLOT(noSuchSlot(int)), QStringLiteral("handle_stats")), 0);
}

void TestCommit::tooBigFilesWaitForTheLimit()
{
    QVERIFY(commitOnce());
    setLocalServerOption(QStringLiteral("file_limit"), 10, -900001);
    const QByteArray big = pngBytes(16);
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMemberFile(skrin, QStringLiteral("file"), big);
    setMember(skrin, QStringLiteral("title"), QStringLiteral("big one"));

    QVERIFY(commitOnce());
    QCOMPARE(rowsOf("too_big_files"), 1);
    QCOMPARE(tooBigItemIds(), QSet<Id>{skrin});
    const Id onServer = tempIdToServerId.value(skrin);
    QCOMPARE(server->member(onServer, QStringLiteral("title")).toString(), QStringLiteral("big one"));
    QVERIFY(server->member(onServer, QStringLiteral("file")).isNull());
    QCOMPARE(rowsOf("uncommitted_set"), 1); // the file waits

    setLocalServerOption(QStringLiteral("file_limit"), 1 << 20, -900001);
    QVERIFY(commitOnce());
    QCOMPARE(rowsOf("too_big_files"), 0);
    QVERIFY(nothingPending());
    QCOMPARE(server->fileData(server->member(onServer, QStringLiteral("file")).toString()), big);
}

void TestCommit::imagesLoadInTheBackground()
{
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMemberFile(skrin, QStringLiteral("file"), pngBytes(5));
    const QString name = getMember(skrin, QStringLiteral("file")).toString();
    Recorder recorder;
    watchInterface({{QStringLiteral("type"), QStringLiteral("skrin")}}, &recorder);

    QVERIFY(itemPixmap(skrin, QStringLiteral("file")).isNull()); // starts the load
    QTRY_VERIFY(!cachedPixmap(name).isNull());
    QCOMPARE(cachedPixmap(name).width(), 5);
    QVERIFY(cachedImage(name).isNull()); // handed over as a pixmap only
    QTRY_VERIFY(recorder.events.contains(QStringLiteral("set %1 file=%loaded%").arg(skrin)));
    QVERIFY(imageCacheTimer->isActive());
    QVERIFY(loadingImages.isEmpty());

    // A file that is no picture fails once and is not tried again.
    const Id broken = createItem(QStringLiteral("skrin"));
    setMemberFile(broken, QStringLiteral("file"), QByteArrayLiteral("no picture"));
    const QString brokenName = getMember(broken, QStringLiteral("file")).toString();
    loadImageAsync(brokenName);
    QTRY_VERIFY(failedImages.contains(brokenName));
    loadImageAsync(brokenName);
    QVERIFY(!loadingImages.contains(brokenName));
    loadImageAsync(QStringLiteral("missing.png"));
    QVERIFY(loadingImages.isEmpty());

    // The upkeep empties the caches once their entries are old.
    QVERIFY(evictImageCaches(QDateTime::currentDateTime().addSecs(10)));
    TavrinConnector::instance()->imageCacheCheck();
    QVERIFY(!imageCacheTimer->isActive());
    unwatchInterface(&recorder);
}

// Last: the engine is started again afterwards, as after a program restart.
void TestCommit::shutdownStopsCommitting()
{
    QVERIFY(commitOnce());
    const Id skrin = createItem(QStringLiteral("skrin"));
    server->setHoldAnswers(true);
    TavrinConnector::instance()->commit();
    QTRY_COMPARE(server->heldAnswerCount(), 1);

    shutdownBackground();
    QVERIFY(!isCommitRunning());
    const int requests = server->engineRequestCount();
    TavrinConnector::instance()->commit();
    TavrinConnector::instance()->scheduleCommit(10);
    QVERIFY(!commitTimer->isActive());
    server->setHoldAnswers(false);
    server->releaseHeldAnswers();
    QTest::qWait(200);
    QCOMPARE(server->engineRequestCount(), requests);

    // A new start on the same folder sends what was pending, once.
    clearEngineState();
    QVERIFY(engineStartInFolder(dir.path()));
    commitModeTimer->stop();
    QVERIFY(syncAll());
    QCOMPARE(server->itemIds(QStringLiteral("skrin")).size(), 1);
    QVERIFY(tempIdToServerId.contains(skrin));
}

QTEST_MAIN(TestCommit)
#include "tst_commit.moc"
