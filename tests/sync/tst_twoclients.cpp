// Two clients, each a process with its own data folder, on one loopback
// service: they converge, a client killed with a commit in flight loses
// nothing and duplicates nothing when it starts again, and copies of one data
// folder, or a folder restored from a backup, converge with the service
// whatever each of them creates, changes or removes.

#include "syncfixture.h"

#include <QDirIterator>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QProcess>

#include <cstdio>

using namespace synctest;

namespace {

// Every item the service knows as a comparable map: keyed by its id, id
// members as the service's ids (readers get local ones), file members as
// their bytes in hex, other values as text or null. Asks for missing files and
// waits until they are here.
QVariantMap snapshot()
{
    QList<Id> ids;
    for (RowCursor cursor = Database::allRows(storeTables().itemsTable); cursor.next();)
        ids.append(idFromVariant(Database::value(cursor, storeTables().itemsIdColumn)));
    for (const Id id : std::as_const(ids))
        readItem(id); // a read asks for every missing file
    (void)QTest::qWaitFor([] { return rowsOf("downloads") == 0; }, 10000);

    const QMap<Id, Id> onServer = localToServer();
    QVariantMap result;
    for (const Id stored : std::as_const(ids)) {
        if (stored < 0 && itemType(stored) == "server_option")
            continue; // local only (the test's own server option)
        QVariantMap item = readItem(stored);
        for (auto it = item.begin(); it != item.end(); ++it) {
            if (isIdMember(it.key()))
                it.value() = QVariant(onServer.value(it.value().toLongLong(), it.value().toLongLong()));
            else if (isFileMember(it.key()) && !it.value().toString().isEmpty())
                it.value() = QString::fromLatin1(Database::fileData(it.value().toString()).toHex());
            else // a store read back from its file holds typed nulls
                it.value() = isNullValue(it.value()) ? QVariant() : QVariant(it.value().toString());
        }
        item.remove("owner");
        result.insert(QString::number(stored), item);
    }
    return result;
}

// Copies a data folder at rest (its client has ended) over what `to` holds.
bool copyFolder(const QString &from, const QString &to)
{
    for (QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString source = it.next();
        const QString target = to + source.mid(from.size());
        QFile::remove(target);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(source, target))
            return false;
    }
    return true;
}

// ---- client B --------------------------------------------------------------------------

// The screenshot titled `title` in this client's store; 0 when none.
Id shotTitled(const QString &title)
{
    return findFirstItem({{"type", "skrin"}, {"title", title}});
}

// Runs the actions of a "run" step in order: "sync", "commit" (one, whatever
// its answer), "dump", "shot:<title>", "set:@<title>:<member>:<value>",
// "remove:@<title>" (the screenshot of that title) and "copyto:<folder>" (a
// copy of the data folder made while the program runs, as a backup tool
// would). False when one failed.
bool runActions(const QString &folder, const QStringList &actions)
{
    for (const QString &action : actions) {
        const QStringList words = action.split(':');
        const Id target = words.value(1).startsWith('@') ? shotTitled(words.value(1).mid(1)) : 0;
        if (action == "sync") {
            if (!syncAll())
                return false;
        } else if (action == "commit") {
            commitOnce();
        } else if (words.first() == "copyto") {
            if (!Database::flush() || !copyFolder(folder, words.value(1)))
                return false;
        } else if (action == "dump") {
            std::puts(QJsonDocument::fromVariant(snapshot()).toJson(QJsonDocument::Compact).constData());
        } else if (words.first() == "shot") {
            setMember(createItem("skrin"), "title", words.value(1));
        } else if (words.first() == "set" && target != 0) {
            setMember(target, words.value(2), words.mid(3).join(':'));
        } else if (words.first() == "remove" && target != 0) {
            removeItem(target);
        } else {
            std::fprintf(stderr, "cannot run %s\n", qPrintable(action));
            return false;
        }
    }
    return true;
}

// Client B: this executable started with "--client <endpoint> <folder> <step>
// [<id>]". Steps: "sync", "edit <id>", "pen", "shot <title>", "dump" (each
// after a log-in and poll), "commit [<id>]", and "run <action>..." (runActions, with
// no poll first). B then ends, with exit code 0 when all went well.
int runClient(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (!startChildClient(arguments.value(3), arguments.value(2)))
        return 1;
    const QString step = arguments.value(4);
    if (step == "run") {
        const bool ok = runActions(arguments.value(3), arguments.mid(5));
        shutdownBackground();
        return ok ? 0 : 2;
    }
    if (step == "commit") { // its first request: the test holds the answer back and kills B
        // A new screenshot, or with an <id> an edit of that one alone.
        const Id edited = arguments.value(5).toLongLong();
        setMember(edited != 0 ? edited : createItem("skrin"), "title", "survives");
        TavrinConnector::instance()->commit();
        return app.exec();
    }
    if (!syncAll())
        return 2;
    if (step == "edit") { // B edits A's screenshot <id> and adds its own annotation and screenshot
        const Id skrin = arguments.value(5).toLongLong();
        setMember(skrin, "desc", "written by B");
        const Id line = createItem("skrin_line");
        setMember(line, "parent", skrin);
        setMember(line, "color", "#00ff00");
        const Id own = createItem("skrin");
        setMember(own, "title", "from B");
        setMemberFile(own, "file", "bytes-of-B");
        if (!syncAll())
            return 2;
    } else if (step == "pen" || step == "shot") { // B adds a pen, or a screenshot titled <id>
        const bool pen = step == "pen";
        setMember(createItem(pen ? "skrin_pen" : "skrin"), pen ? "data" : "title", arguments.value(5, "[1,2]"));
        if (!syncAll())
            return 2;
    } else if (step == "dump") {
        std::puts(QJsonDocument::fromVariant(snapshot()).toJson(QJsonDocument::Compact).constData());
    }
    shutdownBackground();
    return 0;
}

} // namespace

// This process is client A.
class TestTwoClients : public QObject, SyncCase
{
    Q_OBJECT
    QProcess other;

    void startOther(const QString &folder, const QStringList &step)
    {
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList arguments{"--client", server->endpoint(), folder};
        other.start(QCoreApplication::applicationFilePath(), arguments + step);
    }
    // Runs B to its end. The event loop keeps running meanwhile: the service lives in this process.
    bool runOther(const QString &folder, const QStringList &step)
    {
        startOther(folder, step);
        const auto ended = [&] { return other.state() == QProcess::NotRunning; };
        return other.waitForStarted(10000) && QTest::qWaitFor(ended, 30000)
               && other.exitStatus() == QProcess::NormalExit && other.exitCode() == 0;
    }
    QVariantMap dumpOther(const QString &folder)
    {
        if (!runOther(folder, {"dump"}))
            return {};
        return QJsonDocument::fromJson(other.readAllStandardOutput()).toVariant().toMap();
    }

private slots:
    void init() { QVERIFY(startClient()); }
    void cleanup()
    {
        if (other.state() != QProcess::NotRunning) {
            other.kill();
            other.waitForFinished(10000);
        }
        stopClient();
    }
    void cleanupTestCase() { shutdownBackground(); }

    void editsOnBothSidesConverge()
    {
        QTemporaryDir folder;
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "from A");
        setMemberFile(skrin, "file", pngBytes(6));
        const Id pin = createItem("skrin_pin");
        setMember(pin, "parent", skrin);
        setMember(pin, "data", "note");
        QVERIFY(syncAll());
        const Id skrinOnServer = localToServer().value(skrin);
        QVERIFY(runOther(folder.path(), {"edit", QString::number(skrinOnServer)}));

        // A edits meanwhile, then both poll.
        setMember(pin, "data", "note, edited by A");
        setMember(skrin, "trashed", 1);
        QVERIFY(syncAll());
        QVERIFY(commitOnce());
        const QVariantMap mine = snapshot();
        QCOMPARE(mine.size(), 4);
        const QVariantMap theirs = dumpOther(folder.path());
        QCOMPARE(QJsonDocument::fromVariant(theirs).toJson(), QJsonDocument::fromVariant(mine).toJson());
        const QVariantMap mySkrin = mine.value(QString::number(skrinOnServer)).toMap();
        QCOMPARE(mySkrin.value("desc").toString(), "written by B");
        QCOMPARE(mySkrin.value("trashed").toString(), "1");
        QCOMPARE(server->itemIds().size(), 4);
    }

    void killedClientLosesAndDuplicatesNothing()
    {
        QTemporaryDir folder;
        QVERIFY(runOther(folder.path(), {"sync"})); // logged in
        // The service applies the commit; the client dies before the answer.
        server->setHoldAnswers(true);
        startOther(folder.path(), {"commit"});
        QTRY_COMPARE(server->heldAnswerCount(), 1);
        other.kill();
        other.waitForFinished(10000);
        server->releaseHeldAnswers();
        QCOMPARE(server->itemIds("skrin").size(), 1);

        // Started again on its folder, it sends the same commit: same id, no
        // twin. Nothing it did before the crash was flushed by hand, yet its
        // next item gets a local id of its own, so a new server item.
        QVERIFY(runOther(folder.path(), {"pen"}));
        // It sent the lost commit again under the serial and key it was first
        // sent with: the service took it for that commit, not for a copy's.
        QCOMPARE(server->clashes(), 0);
        const QVariantMap theirs = dumpOther(folder.path());
        const QList<qint64> skrins = server->itemIds("skrin");
        const QList<qint64> pens = server->itemIds("skrin_pen");
        QCOMPARE(skrins.size(), 1);
        QCOMPARE(pens.size(), 1);
        QCOMPARE(server->member(skrins.first(), "title").toString(), "survives");
        QVERIFY(server->member(skrins.first(), "data").isNull());
        QCOMPARE(server->member(pens.first(), "data").toString(), "[1,2]");
        // Its items now go by the service's ids.
        QCOMPARE(theirs.keys(), (QStringList{QString::number(skrins.first()), QString::number(pens.first())}));
        QCOMPARE(theirs.first().toMap().value("title").toString(), "survives");

        // Killed again with the first commit of its run carrying an edit
        // alone: the key drawn for its serial was on disk before it left.
        server->setMember(skrins.first(), "title", "changed");
        QVERIFY(runOther(folder.path(), {"sync"}));
        server->setHoldAnswers(true);
        startOther(folder.path(), {"commit", QString::number(skrins.first())});
        QTRY_COMPARE(server->heldAnswerCount(), 1);
        other.kill();
        other.waitForFinished(10000);
        server->releaseHeldAnswers();
        QVERIFY(runOther(folder.path(), {"sync"}));
        QCOMPARE(server->clashes(), 0);
        QCOMPARE(server->member(skrins.first(), "title").toString(), "survives");
    }

    // A client started again on a disk that lags behind the commits it sent
    // (a crash before the writer caught up) sends again the first one the
    // disk does not know as acknowledged, with its key: the service takes it
    // as that commit, its answer brings back what the later ones did, and the
    // serials go on after the service's last.
    void restartOnALaggingDiskIsNoClash()
    {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", "first");
        QVERIFY(syncAll());
        setMember(skrin, "title", "second");
        QVERIFY(commitOnce());
        const TestServer::Request second = server->requests().constLast();
        setMember(skrin, "title", "third");
        server->setFault(TestServer::Fault::Http500, 1, true);
        QVERIFY(!commitOnce());
        // What the disk held before the commit of "second" was answered.
        setOption("commit_serial", second.fields.value("serial").toLongLong() - 1);
        setOption("commit_serial_key", second.fields.value("serial_key"));
        const Id onServer = localToServer().value(skrin);
        const int table = Database::tableId("skrin");
        Database::setValue(table, Database::findRow(table, Database::columnId(table, "id"), onServer),
                           Database::columnId(table, "title"), "first");
        const int records = storeTables().uncommittedSetTable;
        Database::removeRow(records, Database::allRows(records).rows.value(0));
        QVERIFY(nothingPending());

        QVERIFY(commitOnce());
        QCOMPARE(server->requests().constLast().fields.value("serial"), second.fields.value("serial"));
        QCOMPARE(getMember(skrin, "title").toString(), "third");
        QVERIFY(commitOnce());
        QCOMPARE(server->requests().constLast().fields.value("serial").toLongLong(),
                 second.fields.value("serial").toLongLong() + 2);
        QCOMPARE(server->clashes(), 0);
        QCOMPARE(server->member(onServer, "title").toString(), "third");
    }

    // A data folder copied to a second machine, and one restored from a
    // backup, reuse local ids of creates the service has made: each new
    // create still makes an item of its own, nothing made before is made
    // twice, and every copy ends with every item.
    void copiedAndRestoredFoldersMergeNothing()
    {
        QTemporaryDir folder, copy, backup;
        QVERIFY(runOther(folder.path(), {"shot", "before"}));
        QVERIFY(copyFolder(folder.path(), copy.path()) && copyFolder(folder.path(), backup.path()));
        QVERIFY(runOther(folder.path(), {"shot", "on B"}));
        QVERIFY(runOther(copy.path(), {"shot", "on the copy"}));
        QVERIFY(copyFolder(backup.path(), folder.path()));
        QVERIFY(runOther(folder.path(), {"pen"})); // another type under the reused local id
        QStringList titles;
        for (const qint64 id : server->itemIds("skrin"))
            titles.append(server->member(id, "title").toString());
        QCOMPARE(titles, (QStringList{"before", "on B", "on the copy"}));
        QCOMPARE(server->itemIds().size(), 4);
        QVERIFY(commitOnce());
        const QVariantMap own = snapshot();
        QCOMPARE(own.size(), 4);
        const QByteArray mine = QJsonDocument::fromVariant(own).toJson();
        QCOMPARE(QJsonDocument::fromVariant(dumpOther(folder.path())).toJson(), mine);
        QCOMPARE(QJsonDocument::fromVariant(dumpOther(copy.path())).toJson(), mine);
    }

    // A backup taken while the program runs holds the key reserved for its
    // next serial. Restored after the original made 10 more commits of
    // creates and edits, it holds the whole account after its first poll,
    // the original's new screenshots among them, with nothing made by hand.
    void backupTakenWhileRunningCatchesUpAtItsFirstPoll()
    {
        QTemporaryDir one, backup;
        QStringList actions{"shot:base", "shot:second", "sync", "copyto:" + backup.path()};
        for (int i = 1; i <= 5; ++i)
            actions << QStringLiteral("shot:n%1").arg(i) << "sync" << QStringLiteral("set:@base:desc:e%1").arg(i)
                    << "sync";
        QVERIFY(runOther(one.path(), QStringList{"run"} + actions));
        QCOMPARE(server->itemIds("skrin").size(), 7);
        QVERIFY(copyFolder(backup.path(), one.path()));
        QVERIFY(runOther(one.path(), {"run", "sync", "dump"}));
        const QVariantMap restored = QJsonDocument::fromJson(other.readAllStandardOutput()).toVariant().toMap();
        QVERIFY(commitOnce());
        QCOMPARE(findItems({{"type", "skrin"}}).size(), 7);
        QCOMPARE(QJsonDocument::fromVariant(restored).toJson(), QJsonDocument::fromVariant(snapshot()).toJson());
        QCOMPARE(server->member(server->itemIds("skrin").first(), "desc").toString(), "e5");
    }

    // Copies of one data folder ("one", "two"), and "one" restored from a
    // backup. A step runs the actions of one client ("one: <action> ...",
    // where "copyto:%two%" and "copyto:%backup%" copy it while it runs) or
    // copies a folder at rest: "copy" one to two, "backup" one aside,
    // "restore" the backup over one; "lose" loses the answer of the next
    // commit once the service applied it, and "forget" has the service lose
    // its serial table. The service's screenshots end as expected
    // ("title|desc" by id: nothing merged, nothing dropped, the newest change
    // of each member held), and every client holds what the service holds.
    void copiesAndRestoresConverge_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("shots");
        const auto row = [](const char *name, const QStringList &steps, const QStringList &shots) {
            QTest::newRow(name) << steps << shots;
        };
        row("copies edit one screenshot", {"copy", "one: set:@base:title:x sync", "two: set:@base:desc:y sync"},
            {"x|y"});
        row("one edits, the copy removes", {"copy", "one: set:@base:desc:x sync", "two: remove:@base sync"}, {});
        row("one removes, the copy edits", {"copy", "one: remove:@base sync", "two: set:@base:desc:y sync"}, {});
        row("one creates, the copy polls", {"copy", "one: shot:n1 sync", "two: sync"}, {"base|", "n1|"});
        row("one polls, the copy edits", {"copy", "one: sync", "two: set:@base:desc:y sync"}, {"base|y"});
        row("both create", {"copy", "one: shot:n1 sync", "two: shot:n2 sync"}, {"base|", "n1|", "n2|"});
        row("one edits, the copy creates", {"copy", "one: set:@base:desc:x sync", "two: shot:n2 sync"},
            {"base|x", "n2|"});
        row("the copy edits offline while one creates",
            {"copy", "two: set:@base:desc:y", "one: shot:n1 sync", "two: sync"}, {"base|y", "n1|"});
        row("restored after an edit", {"backup", "one: set:@base:desc:new sync", "restore", "one: sync"},
            {"base|new"});
        row("restored after a removal", {"backup", "one: remove:@base sync", "restore", "one: sync"}, {});
        row("restored after an edit, edits", {"backup", "one: set:@base:title:new sync", "restore",
            "one: set:@base:desc:d sync"}, {"new|d"});
        row("restored after a create, creates", {"backup", "one: shot:n1 sync", "restore", "one: shot:n2 sync"},
            {"base|", "n1|", "n2|"});
        row("restored after a removal, creates", {"backup", "one: remove:@base sync", "restore", "one: shot:n2 sync"},
            {"n2|"});
        row("restored, edits what was removed", {"backup", "one: remove:@base sync", "restore",
            "one: set:@base:desc:late sync"}, {});
        row("restored with an offline screenshot removed since",
            {"one: shot:offline", "backup", "one: sync remove:@offline sync", "restore", "one: sync"}, {"base|"});
        // A change made before a copy, sent again by the copy after the
        // original changed the member anew, undoes nothing.
        row("copied at rest with an edit waiting",
            {"one: set:@base:desc:old", "copy", "one: sync set:@base:desc:new sync", "two: sync"}, {"base|new"});
        row("copied while running with an edit waiting",
            {"one: sync set:@base:desc:old copyto:%two% sync set:@base:desc:new sync", "two: sync"}, {"base|new"});
        row("answer lost, then copied while running",
            {"one: set:@base:desc:old", "lose", "one: commit copyto:%two% sync set:@base:desc:new sync",
             "two: sync"}, {"base|new"});
        row("restored at rest with an edit waiting",
            {"one: set:@base:desc:old", "backup", "one: sync set:@base:desc:new sync", "restore", "one: sync"},
            {"base|new"});
        row("restored from a backup taken while running, after creates and edits",
            {"one: sync set:@base:desc:old copyto:%backup% sync set:@base:desc:new sync shot:n1 sync", "restore",
             "one: sync"}, {"base|new", "n1|"});
        row("restored after the service lost its serials",
            {"backup", "one: shot:n1 sync set:@base:desc:new sync", "forget", "restore", "one: sync"},
            {"base|new", "n1|"});
    }
    void copiesAndRestoresConverge()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, shots);
        QTemporaryDir one, two, backup;
        QVERIFY(runOther(one.path(), {"run", "shot:base", "sync"}));
        QStringList used{one.path()};
        for (const QString &step : std::as_const(steps)) {
            QStringList words = step.split(' ');
            const QString what = words.takeFirst();
            words.replaceInStrings("%two%", two.path()).replaceInStrings("%backup%", backup.path());
            if (what == "copy" || step.contains("%two%"))
                used.append(two.path());
            if (what == "copy") {
                QVERIFY(copyFolder(one.path(), two.path()));
            } else if (what == "backup") {
                QVERIFY(copyFolder(one.path(), backup.path()));
            } else if (what == "restore") {
                QVERIFY(copyFolder(backup.path(), one.path()));
            } else if (what == "lose") {
                server->setFault(TestServer::Fault::Http500, 1, true);
            } else if (what == "forget") {
                server->loseSerialTable();
            } else {
                QVERIFY2(runOther((what == "one:" ? one : two).path(), QStringList{"run"} + words), qPrintable(step));
            }
        }
        for (const QString &folder : std::as_const(used))
            QVERIFY(runOther(folder, {"run", "sync"}));

        QStringList onService;
        for (const qint64 id : server->itemIds("skrin"))
            onService.append(server->member(id, "title").toString() + '|' + server->member(id, "desc").toString());
        QCOMPARE(onService, shots);
        QVERIFY(commitOnce());
        const QVariantMap own = snapshot();
        QCOMPARE(findItems({{"type", "skrin"}}).size(), shots.size());
        const QByteArray mine = QJsonDocument::fromVariant(own).toJson();
        for (const QString &folder : std::as_const(used))
            QCOMPARE(QJsonDocument::fromVariant(dumpOther(folder)).toJson(), mine);
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--client") == 0)
        return runClient(argc, argv);
    QGuiApplication app(argc, argv);
    TestTwoClients test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_twoclients.moc"
