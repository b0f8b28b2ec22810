// Commits and downloads against the loopback service: end to end, polling,
// failures, the commit's upkeep (scheduling, remote calls, held-back files,
// images), downloads (five at once, broken addresses resting, only wanted
// bytes kept), and a large account paged over polls and applied in slices.

#include "syncfixture.h"

#include "imagecache.h"
#include "rawdb.h"
#include "zonescope.h"

#include <QDir>
#include <QJsonObject>
#include <QScopeGuard>
#include <QWindow>

using namespace synctest;

namespace {

class AnswerReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap> answers;
public slots:
    void onAnswer(const QVariantMap &answer) { answers.append(answer); }
};

} // namespace

class TestCommit : public QObject, SyncCase
{
    Q_OBJECT

    // Items with a file member set on the service, polled into the store: id -> bytes.
    QMap<qint64, QByteArray> remoteFiles(int count)
    {
        QMap<qint64, QByteArray> files;
        for (int i = 0; i < count; ++i) {
            const qint64 id = server->createItem(mail, "skrin");
            files.insert(id, pngBytes(3 + i));
            server->setFileMember(id, "file", files.value(id));
        }
        return commitOnce() ? files : QMap<qint64, QByteArray>();
    }

    // Items made on the service as another client would: id -> title.
    QMap<qint64, QString> remoteItems(int count)
    {
        QMap<qint64, QString> titles;
        for (int i = 0; i < count; ++i) {
            const QString title = QStringLiteral("item %1").arg(i);
            titles.insert(server->createItem(mail, "skrin", {{"title", title}, {"desc", "d"}, {"w", i}}), title);
        }
        return titles;
    }

private slots:
    void init() { QVERIFY(startClient()); }
    void cleanup() { stopClient(); }
    void cleanupTestCase() { shutdownBackground(); }

    // The screenshot's file carries a stored name that cannot stand in a form
    // header (a data folder from elsewhere): it still travels, under one that can.
    void screenshotTravelsAndReadsTheSame()
    {
        const QByteArray image = pngBytes(8);
        const QString name = QStringLiteral("odd\"name.png");
        QCOMPARE(Database::setFileData(name, image), name);
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "holiday");
        setMember(skrin, "created", QDateTime::currentDateTime());
        setMember(skrin, "file", name);
        const Id picture = createItem("skrin_image");
        setMember(picture, "parent", skrin);
        setMember(picture, "w", 8.0);
        const Id pen = createItem("skrin_pen");
        setMember(pen, "parent", skrin);
        setMember(pen, "data", "[0,0,4,4]");
        setMember(pen, "color", "#ff0000");
        setFavourite(skrin, true);
        const QList<Id> ids{skrin, picture, pen};
        QList<QVariantMap> before;
        for (const Id id : ids)
            before.append(readItem(id));

        QVERIFY(syncAll());
        // Every item got its server id; the rows carry it, callers keep theirs.
        for (qsizetype i = 0; i < ids.size(); ++i) {
            const Id serverId = localToServer().value(ids.at(i));
            QVERIFY(server->itemIds().contains(serverId));
            QCOMPARE(Database::findRow(storeTables().itemsTable, storeTables().itemsIdColumn, QVariant(ids.at(i))), 0);
            QVERIFY(Database::findRow(storeTables().itemsTable, storeTables().itemsIdColumn, QVariant(serverId)) > 0);
            QCOMPARE(readItem(ids.at(i)), before.at(i));
        }
        const Id skrinOnServer = localToServer().value(skrin);
        QCOMPARE(server->member(localToServer().value(picture), "parent").toLongLong(), skrinOnServer);
        QCOMPARE(server->member(skrinOnServer, "title").toString(), "holiday");
        QCOMPARE(server->fileData(server->member(skrinOnServer, "file").toString()), image);
        const QList<qint64> favourites = server->itemIds("favourite");
        QCOMPARE(favourites.size(), 1);
        QCOMPARE(server->member(favourites.first(), "item_id").toLongLong(), skrinOnServer);
        // The client keeps its own file; nothing waits for a download.
        QCOMPARE(getMember(skrin, "file").toString(), name);
        QCOMPARE(itemFileData(skrin, "file"), image);
        QCOMPARE(rowsOf("downloads"), 0);
        QCOMPARE(getMember(skrinOnServer, "title").toString(), "holiday");
    }

    // After the commit rewrote the local ids, everything the program does
    // still speaks them: reads, writes, filters, parents, notices, thumbnail
    // claims, held-back files and downloads; the rows carry the server ids.
    void translatedIdsKeepWorking()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "before");
        const Id picture = createItem("skrin_image");
        setMember(picture, "parent", skrin);
        markSkrinDirty(skrin);
        bool claimed = true;
        const QDateTime mark = beginSkrinThumbnail(skrin, &claimed);
        QVERIFY(!claimed && mark.isValid());

        QVERIFY(syncAll());
        const Id onServer = localToServer().value(skrin);
        QVERIFY(onServer > 0);
        QCOMPARE(rowsWhere("skrin_image", "parent", onServer).size(), 1);
        QCOMPARE(getMember(skrin, "title").toString(), "before");
        QCOMPARE(getMember(picture, "parent"), QVariant(skrin));
        QCOMPARE(findItems({{"type", "skrin_image"}, {"parent", skrin}}), QList<Id>{picture});
        QCOMPARE(findItems({{"id", skrin}}), QList<Id>{skrin});
        QCOMPARE(childItems(skrin), QList<Id>{picture});
        // The claim made under the local id ends under it.
        QVERIFY(isSkrinDirty(skrin) && isSkrinDirty(onServer));
        QCOMPARE(beginSkrinThumbnail(skrin, &claimed), QDateTime());
        QVERIFY(claimed);
        endSkrinThumbnail(skrin, mark);
        QVERIFY(!isSkrinDirty(skrin));
        insertRow("too_big_files", {{"id", onServer}, {"member", "file"}, {"file", "big.png"}});
        QCOMPARE(tooBigItemIds(), QSet<Id>{skrin});
        const QString url = "http://127.0.0.1:1/files/new.png";
        insertRow("downloads", {{"url", url}, {"id", onServer}, {"member", "file"}});
        queueDownloadFirst(url);
        {
            StoreLock lock;
            locked::dropPendingDownloads(lock, skrin, "file");
        }
        QCOMPARE(rowsOf("downloads"), 0);
        QVERIFY(!queuedDownloads().contains(url));

        InterfaceRecorder recorder;
        recorder.watch({{"id", skrin}, {"title", QVariant()}});
        setMember(skrin, "title", "after");
        setMember(createItem("skrin_image"), "parent", skrin);
        QCOMPARE(rowsWhere("skrin_image", "parent", onServer).size(), 2);
        setFavourite(skrin, true);
        QVERIFY(isFavourite(skrin));
        removeItem(skrin);
        const QString id = QString::number(skrin);
        QCOMPARE(recorder.events, (QStringList{"plus " + id, "init", "set " + id + " title=after", "set title=after",
                                               "minus " + id, "remove"}));
        QCOMPARE(rowsWhere("uncommitted_remove", "id", onServer).size(), 1);
    }

    void remoteChangesArriveByPollWithoutEcho()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "mine");
        QVERIFY(syncAll());
        const Id onServer = localToServer().value(skrin);
        InterfaceRecorder skrins, texts;
        skrins.watch({{"type", "skrin"}});
        texts.watch({{"type", "skrin_text"}, {"parent", skrin}});
        skrins.events.clear();

        server->setMember(onServer, "title", "theirs");
        const qint64 text = server->createItem(mail, "skrin_text", {{"parent", onServer}, {"data", "hello"}});
        QVERIFY(commitOnce());
        settle();
        QVERIFY(skrins.events.contains(QStringLiteral("set %1 title=theirs").arg(skrin)));
        QCOMPARE(getMember(skrin, "title").toString(), "theirs");
        QVERIFY(texts.events.contains(QStringLiteral("plus %1").arg(text)));
        QCOMPARE(getMember(text, "data").toString(), "hello");
        QCOMPARE(getMember(text, "parent").toLongLong(), skrin);

        // Watchers hear what the store holds, as for a local change, not the
        // answer's own form of it.
        skrins.events.clear();
        server->setMember(onServer, "published", false);
        server->setMember(onServer, "created", "2024-05-01T10:00:00.000+02:00");
        QVERIFY(commitOnce());
        settle();
        for (const char *member : {"published", "created"}) {
            const QString heard = QStringLiteral("set %1 %2=%3").arg(skrin).arg(member, getMember(skrin, member).toString());
            QVERIFY2(skrins.events.contains(heard), qPrintable(skrins.events.join(" | ")));
        }

        // Remote changes are not local edits: nothing goes back.
        QVERIFY(nothingPending());
        const qsizetype before = server->requests().size();
        QVERIFY(commitOnce());
        QCOMPARE(server->requests().at(before).fields.value("set"), "[]");
        QCOMPARE(server->requests().at(before).fields.value("create"), "[]");

        // A removal on the server removes the item here, and is not sent back.
        server->removeItem(text);
        QVERIFY(commitOnce());
        settle();
        QVERIFY(itemType(text).isEmpty());
        QVERIFY(texts.events.contains(QStringLiteral("minus %1").arg(text)));
        QVERIFY(nothingPending());
    }

    // Failed commits keep every record: the service down, a wrong version.
    // When the service is back, everything arrives once. A refused log-in only
    // drops the session. (An answer lost after the service applied the commit
    // is the next case's first step.)
    void failedCommitsLoseAndDoubleNothing()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "kept");
        const int pendingSets = rowsOf("uncommitted_set");
        server->setFault(TestServer::Fault::Http500, 2);
        QVERIFY(!commitOnce());
        QCOMPARE(commitFailures, 1);
        QVERIFY(!commitOnce());
        QCOMPARE(commitFailures, 2);
        QVERIFY(!isLastCommitOk());
        QSignalSpy wrongVersion(TavrinConnector::instance(), &TavrinConnector::wrongVersionSignal);
        server->setRequiredVersion("9.9.9");
        QVERIFY(!commitOnce());
        QCOMPARE(wrongVersion.count(), 1);
        QCOMPARE(commitFailures, 3);
        server->setRequiredVersion(QString());
        QCOMPARE(rowsOf("uncommitted_create"), 1);
        QCOMPARE(rowsOf("uncommitted_set"), pendingSets);
        QVERIFY(server->itemIds("skrin").isEmpty());
        QVERIFY(syncAll());
        QCOMPARE(commitFailures, 0);
        const QList<qint64> skrins = server->itemIds("skrin");
        QCOMPARE(skrins.size(), 1);
        QCOMPARE(server->member(skrins.first(), "title").toString(), "kept");
        QCOMPARE(localToServer().value(skrin), skrins.first());

        server->setForcedResult(2, 1);
        QVERIFY(!commitOnce());
        QVERIFY(optionValue("session").toString().isEmpty());
        createItem("skrin");
        QVERIFY(syncAll());
        QVERIFY(!optionValue("session").toString().isEmpty());
        QCOMPARE(server->itemIds("skrin").size(), 2);
    }

    // The password hash goes with log-ins only. A create whose answer was
    // lost, sent again after its session expired, still makes one item: the
    // service keys creates by the client's store, not by its session.
    void expiredSessionLeaksAndDuplicatesNothing()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "once");
        server->setFault(TestServer::Fault::Http500, 1, true);
        QVERIFY(!commitOnce());
        QCOMPARE(server->itemIds("skrin").size(), 1);
        QVERIFY(!localToServer().contains(skrin));
        server->expireSessions();
        QVERIFY(!commitOnce()); // refused: the session is gone
        QVERIFY(syncAll());
        const QList<qint64> skrins = server->itemIds("skrin");
        QCOMPARE(skrins.size(), 1);
        QCOMPARE(localToServer().value(skrin), skrins.first());
        QCOMPARE(server->member(skrins.first(), "title").toString(), "once");

        AnswerReceiver receiver;
        server->setExecHandler("ping", [](const TestServer::Request &, qint64) { return QJsonObject(); });
        TavrinConnector::instance()->exec(&receiver, SLOT(onAnswer(QVariantMap)), "ping");
        QTRY_COMPARE(receiver.answers.size(), 1);
        int logIns = 0;
        for (const TestServer::Request &request : server->requests()) {
            const bool withSession = request.fields.contains("session");
            QCOMPARE(request.fields.contains("hash"), !withSession);
            QCOMPARE(request.fields.contains("mail"), !withSession);
            logIns += withSession ? 0 : 1;
            if (!withSession && request.fields.value("action") == "commit") // a log-in carries no changes
                QCOMPARE(request.fields.value("create") + request.fields.value("set"), QString("[][]"));
            if (request.fields.value("action") == "commit")
                QCOMPARE(request.fields.value("store"), optionValue("store_id").toString());
        }
        QCOMPARE(logIns, 2); // the first one and the one after the expiry
        QVERIFY(optionValue("store_id").toString().size() >= 32);
    }

    // A create recorded before creates carried tokens gets one, on disk
    // before the create leaves; sent again after a lost answer, it makes no twin.
    void createWithoutTokenGoesOnce()
    {
        setMember(createItem("skrin"), "title", "older");
        const int table = storeTables().uncommittedCreateTable, column = storeTables().uncommittedCreateTokenColumn;
        Database::setValue(table, Database::allRows(table).rows.value(0), column, QVariant());
        sync_internal::oldCreatesTokened = false; // as when such a store is opened
        server->setFault(TestServer::Fault::Http500, 1, true);
        QVERIFY(!commitOnce());
        const QString token = Database::value(table, Database::allRows(table).rows.value(0), column).toString();
        QCOMPARE(token.size(), 32);
        QVERIFY(server->requests().last().fields.value("create").contains(token));
        QCOMPARE(RawDb(dir.filePath("database.db")).text("SELECT token FROM uncommitted_create"), token);
        QVERIFY(syncAll());
        QCOMPARE(server->itemIds("skrin").size(), 1);
    }

    // A set the service refuses (its id member names an item it never got)
    // comes back with the value the service holds, null included.
    void refusedSetTakesTheServiceValue()
    {
        const Id skrin = createItem("skrin"), pin = createItem("skrin_pin"), loose = createItem("skrin_pin");
        setMember(pin, "parent", skrin);
        QVERIFY(syncAll());
        const Id gone = createItem("skrin");
        setMember(pin, "parent", gone);
        setMember(loose, "parent", gone);
        removeItem(gone);
        QVERIFY(syncAll());
        QCOMPARE(getMember(pin, "parent").toLongLong(), skrin);
        QCOMPARE(getMember(loose, "parent").toLongLong(), 0);
    }

    // The service takes sets in the order they arrive: an edit from a clock
    // 10 minutes slow still counts, and both sides show what it holds.
    void slowClockStillChangesTheMember()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "first");
        QVERIFY(syncAll());
        const Id onServer = localToServer().value(skrin);
        server->setMember(onServer, "title", "theirs");
        QVERIFY(commitOnce());
        QCOMPARE(getMember(skrin, "title").toString(), "theirs");

        setMember(skrin, "title", "mine");
        {
            StoreLock lock;
            const int row = Database::findRow(
                storeTables().uncommittedSetTable, storeTables().uncommittedSetMemberColumn, "title");
            Database::setValue(storeTables().uncommittedSetTable, row, storeTables().uncommittedSetModifiedColumn,
                               QDateTime::currentDateTime().addSecs(-600));
        }
        QVERIFY(syncAll());
        QCOMPARE(server->member(onServer, "title").toString(), "mine");
        QCOMPARE(getMember(skrin, "title").toString(), "mine");

        // A pending local edit is not overwritten by an older arrival: it
        // reaches the service after it and wins there.
        server->setMember(onServer, "title", "theirs again");
        setMember(skrin, "title", "mine again");
        QVERIFY(syncAll());
        QVERIFY(commitOnce());
        QCOMPARE(server->member(onServer, "title").toString(), "mine again");
        QCOMPARE(getMember(skrin, "title").toString(), "mine again");
    }

    // Date-times travel in UTC with their offset; both forms are read.
    void dateTimesTravelWithTheirOffset()
    {
        const QDateTime created = QDateTime::currentDateTime();
        const Id skrin = createItem("skrin");
        setMember(skrin, "created", created);
        QVERIFY(syncAll());
        const Id onServer = localToServer().value(skrin);
        const QString sent = server->member(onServer, "created").toString();
        QVERIFY2(sent.endsWith('Z'), qPrintable(sent));
        QCOMPARE(QDateTime::fromString(sent, Qt::ISODateWithMs), created);

        const QDateTime at(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC);
        server->setMember(onServer, "created", "2024-05-01T10:00:00.000+02:00");
        QVERIFY(commitOnce());
        QCOMPARE(getMember(skrin, "created").toDateTime(), at);
        server->setMember(onServer, "created", "2024-05-01T10:00:00.000");
        QVERIFY(commitOnce());
        QCOMPARE(getMember(skrin, "created").toDateTime(), QDateTime(QDate(2024, 5, 1), QTime(10, 0)));

        // A date alone is no date-time: kept and sent as the text it is, in
        // any zone. Flags travel as numbers, whichever way they were given.
        const ZoneScope zone("Asia/Kolkata");
        server->setMember(onServer, "created", "2024-06-01");
        server->setMember(onServer, "published", true);
        QVERIFY(commitOnce());
        QCOMPARE(getMember(skrin, "created"), QVariant("2024-06-01"));
        QCOMPARE(getMember(skrin, "published"), QVariant(qint64(1)));
        setMember(skrin, "modified", QString("2024-05-01"));
        setMember(skrin, "trashed", true);
        QVERIFY(syncAll());
        QCOMPARE(server->member(onServer, "modified"), QVariant("2024-05-01"));
        QCOMPARE(server->member(onServer, "trashed").typeId(), QMetaType::LongLong); // 1, not true
    }

    void changeDuringCommitSurvivesTheAnswer()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "first");
        setMember(skrin, "desc", "unchanged");
        QVERIFY(holdCommit(*server));
        QVERIFY(isCommitRunning());
        setMember(skrin, "title", "second");
        TavrinConnector::instance()->commit(); // only asks for another one
        server->releaseHeldAnswers();
        // The flag sent the newer title straight away.
        QTRY_COMPARE(server->member(localToServer().value(skrin), "title").toString(), "second");
        QTRY_VERIFY(nothingPending() && !isCommitRunning());
        QCOMPARE(getMember(skrin, "title").toString(), "second");
        QCOMPARE(server->member(localToServer().value(skrin), "desc").toString(), "unchanged");
    }

    // A receiver of the finished signal that commits at once (and fails)
    // keeps what its commit carried; it also sees the finished commit counted.
    void commitFromTheFinishedSignalKeepsItsRecords()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "first");
        QVERIFY(holdCommit(*server));
        setMember(skrin, "title", "second");
        TavrinConnector *connector = TavrinConnector::instance();
        QList<bool> seenOk;
        QMetaObject::Connection connection;
        connection = connect(connector, &TavrinConnector::commitFinishedSignal, this, [&](bool ok) {
            seenOk.append(isLastCommitOk() == ok);
            if (seenOk.size() == 1) {
                server->setHoldAnswers(false);
                server->setFault(TestServer::Fault::Http500, 1);
                connector->commit();
            }
        });
        server->releaseHeldAnswers();
        QTRY_VERIFY(seenOk.size() == 2 && !isCommitRunning());
        disconnect(connection);
        QCOMPARE(seenOk, QList<bool>({true, true}));
        QVERIFY(syncAll());
        QCOMPARE(server->member(localToServer().value(skrin), "title").toString(), "second");
    }

    void resetForgetsTheCommitInFlight()
    {
        createItem("skrin");
        QVERIFY(holdCommit(*server));
        QSignalSpy reset(TavrinConnector::instance(), &TavrinConnector::resetSignal);
        QVERIFY(resetAndLogin(mail, hash));
        QCOMPARE(reset.count(), 1);
        QVERIFY(!isCommitRunning());
        QCOMPARE(optionValue("mail").toString(), mail);
        QVERIFY(optionValue("session").isNull());
        pointAt(server->endpoint());
        const Id fresh = createItem("skrin");
        QVERIFY(fresh < -1); // the local id counter outlives the reset

        QSignalSpy finished(TavrinConnector::instance(), &TavrinConnector::commitFinishedSignal);
        server->releaseHeldAnswers();
        QTest::qWait(200);
        // The old answer is ignored: the new store keeps its records.
        QCOMPARE(finished.count(), 0);
        QVERIFY(localToServer().isEmpty());
        QCOMPARE(rowsOf("uncommitted_create"), 1);
        QVERIFY(optionValue("session").isNull());
        QVERIFY(syncAll());
        QVERIFY(localToServer().contains(fresh));
    }

    // A commit the timer runs clears the schedule. The mode check (20 s here,
    // where no window shows) leaves one scheduled: it is what polls.
    void scheduledCommits()
    {
        TavrinConnector *connector = TavrinConnector::instance();
        QSignalSpy finished(connector, &TavrinConnector::commitFinishedSignal);
        connector->scheduleCommit(1);
        QTRY_VERIFY(finished.count() >= 1 && !isCommitRunning());
        QCOMPARE(commitDelayMs, 0);
        QVERIFY(!commitTimer->isActive());
        connector->commitModeCheck();
        QCOMPARE(commitModeDelayMs, 20000);
        QVERIFY(commitTimer->isActive());
    }

    // Parameters travel as date-times do, in UTC with their offset.
    void remoteCallsReachTheirReceiver()
    {
        server->setExecHandler("handle_stats", [](const TestServer::Request &request, qint64) {
            const auto field = [&request](const char *name) { return request.fields.value(name); };
            return QJsonObject{{"views", 7}, {"handle", field("handle")}, {"at", field("at")}};
        });
        TavrinConnector *connector = TavrinConnector::instance();
        AnswerReceiver receiver;
        const QDateTime at = QDateTime::currentDateTime();
        QVERIFY(connector->exec(&receiver, SLOT(onAnswer(QVariantMap)), "handle_stats", {{"handle", "abc"}, {"at", at}})
                > 0);
        QTRY_COMPARE(receiver.answers.size(), 1);
        QCOMPARE(receiver.answers.first().value("result").toInt(), 0);
        QCOMPARE(receiver.answers.first().value("views").toInt(), 7);
        QCOMPARE(receiver.answers.first().value("handle").toString(), "abc");
        const QString sent = receiver.answers.first().value("at").toString();
        QVERIFY2(sent.endsWith('Z'), qPrintable(sent));
        QCOMPARE(QDateTime::fromString(sent, Qt::ISODateWithMs), at);
        // An unknown call answers result 1 (here to a typed slot).
        connector->exec(&receiver, &AnswerReceiver::onAnswer, "nothing");
        QTRY_COMPARE(receiver.answers.size(), 2);
        QCOMPARE(receiver.answers.last().value("result").toInt(), 1);

        // A receiver that goes first is forgotten, with its callable.
        auto *gone = new AnswerReceiver;
        connector->exec(gone, [gone](const QVariantMap &answer) { gone->onAnswer(answer); }, "handle_stats");
        QCOMPARE(execRequests.size(), 1);
        delete gone;
        QVERIFY(execRequests.isEmpty());
        QTest::qWait(100);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^exec: "));
        QCOMPARE(connector->exec(&receiver, SLOT(noSuchSlot(int)), "handle_stats"), 0);
    }

    // Files held back wait for a later commit, the rest of the item goes: one
    // over the file limit, and one that cannot be read (never sent empty over
    // the service's copy). They keep no fast commit mode: with a window shown
    // and nothing else to send, the mode check polls every 20 s.
    void heldBackFilesWait()
    {
        setLocalServerOption("file_limit", 10, -900001);
        const QByteArray big = pngBytes(16);
        const Id skrin = createItem("skrin");
        setMemberFile(skrin, "file", big);
        setMember(skrin, "title", "big one");
        const Id unreadable = createItem("skrin");
        QVERIFY(QDir().mkpath(Database::filePath("unreadable.png"))); // a folder where the file should be
        setMember(unreadable, "file", "unreadable.png");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be read"));
        QVERIFY(commitOnce());
        QCOMPARE(rowsOf("too_big_files"), 1);
        QCOMPARE(tooBigItemIds(), QSet<Id>{skrin});
        const Id onServer = localToServer().value(skrin);
        QCOMPARE(server->member(onServer, "title").toString(), "big one");
        QVERIFY(server->member(onServer, "file").isNull());
        QVERIFY(localToServer().contains(unreadable));
        QVERIFY(server->member(localToServer().value(unreadable), "file").toString().isEmpty());
        QCOMPARE(rowsOf("uncommitted_set"), 2); // the files wait
        QWindow window;
        window.show();
        setCommitHurry(false);
        lastServerChange = QDateTime();
        TavrinConnector::instance()->commitModeCheck();
        QVERIFY(isAnyWindowVisible());
        QCOMPARE(commitModeDelayMs, 20000);

        setLocalServerOption("file_limit", 1 << 20, -900001);
        QVERIFY(commitOnce());
        QCOMPARE(rowsOf("too_big_files"), 0);
        QCOMPARE(rowsWhere("uncommitted_set", "member", "file").size(), 1); // the unreadable one
        QCOMPARE(server->fileData(server->member(onServer, "file").toString()), big);
    }

    void atMostFiveDownloadsInFlight()
    {
        TavrinConnector *connector = TavrinConnector::instance();
        const QMap<qint64, QByteArray> files = remoteFiles(7);
        QCOMPARE(files.size(), 7);
        QCOMPARE(rowsOf("downloads"), 7);
        for (const qint64 id : files.keys())
            QVERIFY(getMember(id, "file").isNull()); // each read asks for its file
        // No answer arrives inside the reads: five go, two wait.
        QCOMPARE(runningDownloads.size(), 5);
        QCOMPARE(queuedDownloads().size(), 2);
        // Each download in flight names the item that waits for it.
        QSet<Id> carried;
        for (const ConnectionId connection : std::as_const(runningDownloads))
            carried.unite(transferItems(connection));
        QCOMPARE(carried.size(), 5);
        // An address already on its way or in the queue is not queued again.
        connector->downloadFile(runningDownloads.firstKey());
        connector->downloadFile(queuedDownloads().last());
        QCOMPARE(queuedDownloads().size(), 2);

        // Every finished download starts the next one.
        QTRY_COMPARE(rowsOf("downloads"), 0);
        QVERIFY(runningDownloads.isEmpty() && queuedDownloads().isEmpty());
        QCOMPARE(server->requestCount("/files/"), 7);
        for (auto it = files.begin(); it != files.end(); ++it)
            QCOMPARE(itemFileData(it.key(), "file"), it.value());
        QVERIFY(nothingPending()); // fetched files are not sent back
    }

    // Servers that send a byte at a time lose their slots once too slow; the
    // download waiting behind them then goes.
    void slowDownloadsGiveUpTheirSlots()
    {
        NetworkConnector::setDownloadPace(500, 1024);
        QList<qint64> slow;
        for (int i = 0; i < 5; ++i) {
            slow.append(server->createItem(mail, "skrin"));
            server->setMember(slow.last(), "file", server->slowFileAddress(i));
        }
        const QMap<qint64, QByteArray> files = remoteFiles(1);
        for (const qint64 id : slow)
            getMember(id, "file");
        getMember(files.firstKey(), "file");
        QCOMPARE(runningDownloads.size(), 5);
        QTRY_COMPARE(itemFileData(files.firstKey(), "file"), files.first());
        // The file may arrive through the first slot given up, before the
        // other slow downloads are given up in their turn.
        QTRY_COMPARE(brokenDownloads.size(), 5);
        NetworkConnector::setDownloadPace(0, 0);
    }

    void brokenAddressRestsThenReloads_data()
    {
        QTest::addColumn<TestServer::Fault>("fault");
        QTest::newRow("http 500") << TestServer::Fault::Http500;
        QTest::newRow("empty body") << TestServer::Fault::Empty;
    }
    void brokenAddressRestsThenReloads()
    {
        QFETCH(TestServer::Fault, fault);
        static QDateTime now = QDateTime::currentDateTime();
        TavrinConnector::setClock([] { return now; });
        const QMap<qint64, QByteArray> files = remoteFiles(1);
        QCOMPARE(files.size(), 1);
        const qint64 id = files.firstKey();
        const QString url = downloadUrl(id);
        const int filesBefore = storedFileNames().size();
        server->setDownloadFault(fault, 1);
        getMember(id, "file");
        QTRY_VERIFY(brokenDownloads.contains(url));
        QVERIFY(brokenDownloadsTimer->isActive());
        // The member still waits, and nothing was stored.
        QCOMPARE(rowsOf("downloads"), 1);
        QCOMPARE(readItem(id, true).value("file").toString(), "%downloading%");
        QVERIFY(Database::flush());
        QCOMPARE(storedFileNames().size(), filesBefore);

        // Refused while it rests, even when asked for again 15 s later.
        const int requests = server->requestCount("/files/");
        now = now.addSecs(15);
        TavrinConnector::instance()->brokenDownloadsCheck();
        QVERIFY(brokenDownloads.contains(url));
        QVERIFY(getMember(id, "file").isNull());
        QVERIFY(runningDownloads.isEmpty());
        QCOMPARE(server->requestCount("/files/"), requests);

        // More than 15 s later it is dropped (not fetched by the check itself) ...
        now = now.addSecs(1);
        TavrinConnector::instance()->brokenDownloadsCheck();
        QVERIFY(brokenDownloads.isEmpty());
        QVERIFY(!brokenDownloadsTimer->isActive());
        QVERIFY(runningDownloads.isEmpty());
        // ... and the next read fetches it.
        QVERIFY(getMember(id, "file").isNull());
        QTRY_COMPARE(itemFileData(id, "file"), files.value(id));
        QCOMPARE(rowsOf("downloads"), 0);
    }

    void onlyWantedBytesAreStored()
    {
        TavrinConnector *connector = TavrinConnector::instance();
        QVERIFY(!connector->storeDownloadedFile("http://127.0.0.1:1/nobody.png", pngBytes()));
        QVERIFY(!connector->storeDownloadedFile(QString(), pngBytes()));

        // A member set here while its file is on the way keeps the local value.
        const QMap<qint64, QByteArray> files = remoteFiles(1);
        QCOMPARE(files.size(), 1);
        const qint64 id = files.firstKey();
        const QString url = downloadUrl(id);
        server->setDownloadFault(TestServer::Fault::Hang, 1);
        getMember(id, "file");
        QVERIFY(runningDownloads.contains(url));
        const QByteArray local = pngBytes(9);
        setMemberFile(id, "file", local);
        QCOMPARE(rowsOf("downloads"), 0);
        QVERIFY(!connector->storeDownloadedFile(url, pngBytes(4)));
        QCOMPARE(itemFileData(id, "file"), local);
        QVERIFY(!connector->storeDownloadedFile(url, QByteArray()));
    }

    void pagesArriveOverSeveralPolls()
    {
        const QMap<qint64, QString> titles = remoteItems(12); // 48 changes
        server->setPageSize(10);
        const qsizetype before = server->requests().size();
        QVERIFY(commitOnce()); // the pages follow one another at once
        QCOMPARE(server->requests().size() - before, 5);
        for (auto it = titles.begin(); it != titles.end(); ++it) {
            QCOMPARE(getMember(it.key(), "title").toString(), it.value());
            QCOMPARE(getMember(it.key(), "desc").toString(), "d");
        }
        const qsizetype after = server->requests().size();
        QVERIFY(commitOnce());
        QCOMPARE(server->requests().size() - after, 1); // nothing more to fetch
        QCOMPARE(server->requests().constLast().fields.value("state"), optionValue("state").toString());
    }

    void longAnswerAppliesInSlices()
    {
        const QMap<qint64, QString> titles = remoteItems(3000);
        InterfaceRecorder recorder;
        recorder.watch({{"type", "skrin"}});
        TavrinConnector *connector = TavrinConnector::instance();

        // While the answer is applied the event loop runs; a commit asked for
        // then waits for the whole answer.
        int turns = 0;
        qsizetype requestsWhileApplying = -1;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            if (!TavrinConnector::isApplyingAnswer())
                return;
            ++turns;
            if (requestsWhileApplying < 0) {
                requestsWhileApplying = server->requests().size();
                connector->commit();
            }
        });
        tick.start(0);
        QSignalSpy finished(connector, &TavrinConnector::commitFinishedSignal);
        qsizetype requestsAtFinish = -1;
        connect(connector, &TavrinConnector::commitFinishedSignal, this,
                [&] { requestsAtFinish = server->requests().size(); }, Qt::SingleShotConnection);
        connector->commit();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 2 && !isCommitRunning(), 60000);
        QVERIFY2(turns > 2, qPrintable(QString::number(turns)));
        QCOMPARE(requestsAtFinish, requestsWhileApplying);

        // Each item: its plus, then its members, nothing lost.
        QHash<QString, int> firstSeen;
        for (int i = 0; i < recorder.events.size(); ++i) {
            const QStringList words = recorder.events.at(i).split(' ');
            if (words.size() > 1 && !firstSeen.contains(words.at(1)))
                firstSeen.insert(words.at(1), i);
        }
        QCOMPARE(recorder.events.filter(QRegularExpression("^plus ")).size(), 3000);
        QCOMPARE(recorder.events.filter(QRegularExpression("^set \\d+ title=")).size(), 3000);
        for (auto it = titles.begin(); it != titles.end(); ++it) {
            const QString id = QString::number(it.key());
            QVERIFY(recorder.events.at(firstSeen.value(id)).startsWith("plus "));
            QVERIFY(recorder.events.contains(QStringLiteral("set %1 title=%2").arg(id, it.value())));
        }
        QCOMPARE(getMember(titles.lastKey(), "title").toString(), titles.last());
    }

    // The local id counter reaches the disk without the GUI thread waiting
    // for the writer: with the file locked by another connection commit()
    // returns, and the create goes by itself once the lock is released.
    void createWaitsForTheCounterWithoutBlocking()
    {
        const Id skrin = createItem("skrin");
        {
            RawDb other(dir.filePath("database.db"));
            QVERIFY(other.exec("PRAGMA busy_timeout = 5000") && other.exec("BEGIN EXCLUSIVE"));
            TavrinConnector::instance()->commit();
            QVERIFY(other.exec("COMMIT"));
        }
        QTRY_VERIFY(localToServer().contains(skrin));
        QCOMPARE(server->itemIds("skrin").size(), 1);
    }

    // The translations of a commit's creates are applied in slices too; in
    // between, each id is wholly local or wholly translated.
    void translationsApplyInSlices()
    {
        QList<Id> mine;
        for (int i = 0; i < 5000; ++i)
            mine.append(createItem("skrin_pen"));
        QSet<qsizetype> seen;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            if (TavrinConnector::isApplyingAnswer())
                seen.insert(localToServer().size());
        });
        tick.start(0);
        QVERIFY(syncAll());
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](qsizetype n) { return n > 0 && n < 5000; }));
        for (const Id id : std::as_const(mine))
            QVERIFY(localToServer().contains(id));
        QCOMPARE(server->itemIds("skrin_pen").size(), 5000);
    }

    // Last: the engine is started again afterwards, as after a program restart.
    // A date-time still unsent then goes out in UTC, though the store now
    // gives it back as local text (in a zone away from UTC).
    void shutdownStopsCommitting()
    {
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Asia/Kolkata");
        const auto restoreZone = qScopeGuard([&] { zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone); });
        const Id skrin = createItem("skrin");
        setMember(skrin, "created", QDateTime(QDate(2024, 5, 1), QTime(4, 30), Qt::UTC).toLocalTime());
        QVERIFY(holdCommit(*server));
        shutdownBackground();
        QVERIFY(!isCommitRunning());
        const int requests = server->requestCount("/tavrin-engine");
        TavrinConnector::instance()->commit();
        TavrinConnector::instance()->scheduleCommit(10);
        QVERIFY(!commitTimer->isActive());
        server->releaseHeldAnswers();
        QTest::qWait(200);
        QCOMPARE(server->requestCount("/tavrin-engine"), requests);

        // A new start on the same folder sends what was pending, once.
        clearEngineState();
        QVERIFY(engineStartInFolder(dir.path()));
        commitModeTimer->stop();
        QVERIFY(syncAll());
        QCOMPARE(server->itemIds("skrin").size(), 1);
        QVERIFY(localToServer().contains(skrin));
        QCOMPARE(server->member(localToServer().value(skrin), "created").toString(), "2024-05-01T04:30:00.000Z");
    }
};

QTEST_MAIN(TestCommit)
#include "tst_commit.moc"
