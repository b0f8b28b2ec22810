// Two clients, each a process with its own data folder, on one loopback
// service: they converge, and a client killed with a commit in flight loses
// nothing and duplicates nothing when it starts again.
//
// The second client is this executable started again with "--client"; it
// reads one command per line on standard input and answers on standard output.

#include "syncfixture.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QProcess>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>

using namespace synctest;

namespace {

// Every item as a comparable map: keyed by the service's id, id members as
// the service's ids, file members as the SHA-1 of their bytes. Asks for
// missing files and waits until they are here.
QVariantMap snapshot()
{
    QList<Id> ids;
    {
        RowCursor cursor = Database::allRows(itemsTable);
        while (cursor.next())
            ids.append(idFromVariant(Database::value(cursor, itemsIdColumn)));
    }
    for (const Id id : std::as_const(ids))
        readItem(id); // a read asks for every missing file
    if (!QTest::qWaitFor([] { return rowsOf("downloads") == 0; }, 10000))
        qWarning("snapshot: some files did not arrive");

    QVariantMap result;
    for (const Id stored : std::as_const(ids)) {
        if (stored < 0)
            continue; // local only (the test's own server option)
        QVariantMap item = readItem(stored);
        for (auto it = item.begin(); it != item.end(); ++it) {
            if (isIdMember(it.key()))
                it.value() = QVariant(tempIdToServerId.value(it.value().toLongLong(), it.value().toLongLong()));
            else if (isFileMember(it.key()) && !it.value().toString().isEmpty())
                it.value() = QCryptographicHash::hash(Database::fileData(it.value().toString()),
                                                      QCryptographicHash::Sha1)
                                 .toHex();
            else if (!isNullValue(it.value()))
                it.value() = it.value().toString();
        }
        item.remove(QStringLiteral("owner"));
        result.insert(QString::number(stored), item);
    }
    return result;
}

// ---- the second client ----------------------------------------------------------------

class ClientDriver : public QObject
{
public:
    ClientDriver()
        : notifier(fileno(stdin), QSocketNotifier::Read)
    {
        connect(&notifier, &QSocketNotifier::activated, this, [this] { readCommands(); });
    }

private:
    void readCommands()
    {
        char line[4096];
        if (!fgets(line, sizeof line, stdin)) {
            notifier.setEnabled(false);
            QCoreApplication::exit(0);
            return;
        }
        run(QString::fromUtf8(line).trimmed().split(QLatin1Char(' ')));
    }

    void reply(const QString &text)
    {
        std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    }

    void run(const QStringList &words)
    {
        const QString command = words.value(0);
        if (command == QLatin1String("create")) {
            reply(QStringLiteral("id %1").arg(createItem(words.value(1))));
        } else if (command == QLatin1String("set")) {
            // set <id> <member> <text>
            setMember(words.value(1).toLongLong(), words.value(2), words.mid(3).join(QLatin1Char(' ')));
            reply(QStringLiteral("done"));
        } else if (command == QLatin1String("setid")) {
            setMember(words.value(1).toLongLong(), words.value(2), words.value(3).toLongLong());
            reply(QStringLiteral("done"));
        } else if (command == QLatin1String("file")) {
            setMemberFile(words.value(1).toLongLong(), words.value(2), words.value(3).toUtf8());
            reply(QStringLiteral("done"));
        } else if (command == QLatin1String("server")) {
            // server <local id>: the id the service gave it, 0 when none yet
            reply(QStringLiteral("server %1").arg(tempIdToServerId.value(words.value(1).toLongLong())));
        } else if (command == QLatin1String("sync")) {
            reply(QStringLiteral("synced %1").arg(syncAll() ? 1 : 0));
        } else if (command == QLatin1String("commit")) {
            TavrinConnector::instance()->commit();
            reply(QStringLiteral("sent"));
        } else if (command == QLatin1String("flush")) {
            reply(QStringLiteral("flushed %1").arg(Database::flush() ? 1 : 0));
        } else if (command == QLatin1String("dump")) {
            reply(QStringLiteral("dump ")
                  + QString::fromUtf8(QJsonDocument::fromVariant(snapshot()).toJson(QJsonDocument::Compact)));
        } else if (command == QLatin1String("quit")) {
            shutdownBackground();
            reply(QStringLiteral("bye"));
            QCoreApplication::exit(0);
        } else {
            reply(QStringLiteral("unknown"));
        }
    }

    QSocketNotifier notifier;
};

int runClient(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString endpoint = arguments.value(2);
    const QString folder = arguments.value(3);
    QString error;
    if (!engineStartInFolder(folder, &error)) {
        std::fprintf(stderr, "client: %s\n", qPrintable(error));
        return 1;
    }
    commitModeTimer->stop();
    pointAt(endpoint);
    setOption(QStringLiteral("mail"), mail);
    setOption(QStringLiteral("hash"), hash);
    ClientDriver driver;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

// ---- the parent's handle on the second client -------------------------------------------

class Client
{
public:
    bool start(const QString &endpoint, const QString &folder)
    {
        buffer.clear();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--client"), endpoint, folder});
        return process.waitForStarted(10000) && !waitFor(QStringLiteral("ready")).isNull();
    }

    // Sends a command and returns the answer line that starts with `prefix`.
    QString ask(const QString &command, const QString &prefix)
    {
        process.write((command + QLatin1Char('\n')).toUtf8());
        return waitFor(prefix);
    }

    void kill()
    {
        process.kill();
        process.waitForFinished(10000);
    }

    void quit()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ask(QStringLiteral("quit"), QStringLiteral("bye"));
        process.waitForFinished(10000);
    }

private:
    // The event loop keeps running meanwhile: the service lives in this process.
    QString waitFor(const QString &prefix)
    {
        QString found;
        (void)QTest::qWaitFor(
            [&] {
                buffer += process.readAllStandardOutput();
                qsizetype end = 0;
                while ((end = buffer.indexOf('\n')) >= 0) {
                    const QString line = QString::fromUtf8(buffer.left(end));
                    buffer.remove(0, end + 1);
                    if (line.startsWith(prefix)) {
                        found = line.mid(prefix.size()).trimmed();
                        if (found.isNull())
                            found = QStringLiteral("");
                        return true;
                    }
                }
                return false;
            },
            20000);
        return found;
    }

    QProcess process;
    QByteArray buffer;
};

} // namespace

class TestTwoClients : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void editsOnBothSidesConverge();
    void killedClientLosesAndDuplicatesNothing();

private:
    QTemporaryDir dir;
    QTemporaryDir otherDir;
    TestServer *server = nullptr;
    Client other;
};

void TestTwoClients::init()
{
    server = new TestServer(this);
    QVERIFY(server->listen());
    QVERIFY(freshClient(*server, dir.path()));
}

void TestTwoClients::cleanup()
{
    other.quit();
    settle();
    delete server;
    server = nullptr;
}

void TestTwoClients::cleanupTestCase()
{
    shutdownBackground();
}

void TestTwoClients::editsOnBothSidesConverge()
{
    // This process is client A.
    const Id skrin = createItem(QStringLiteral("skrin"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("from A"));
    setMemberFile(skrin, QStringLiteral("file"), pngBytes(6));
    const Id pin = createItem(QStringLiteral("skrin_pin"));
    setMember(pin, QStringLiteral("parent"), skrin);
    setMember(pin, QStringLiteral("data"), QStringLiteral("note"));
    QVERIFY(syncAll());
    const Id skrinOnServer = tempIdToServerId.value(skrin);

    QVERIFY(other.start(server->endpoint(), otherDir.path()));
    QCOMPARE(other.ask(QStringLiteral("sync"), QStringLiteral("synced")), QStringLiteral("1"));
    // B edits A's screenshot and adds its own annotation and screenshot.
    other.ask(QStringLiteral("set %1 desc written by B").arg(skrinOnServer), QStringLiteral("done"));
    const QString line = other.ask(QStringLiteral("create skrin_line"), QStringLiteral("id"));
    other.ask(QStringLiteral("setid %1 parent %2").arg(line).arg(skrinOnServer), QStringLiteral("done"));
    other.ask(QStringLiteral("set %1 color #00ff00").arg(line), QStringLiteral("done"));
    const QString bSkrin = other.ask(QStringLiteral("create skrin"), QStringLiteral("id"));
    other.ask(QStringLiteral("set %1 title from B").arg(bSkrin), QStringLiteral("done"));
    other.ask(QStringLiteral("file %1 file bytes-of-B").arg(bSkrin), QStringLiteral("done"));
    QCOMPARE(other.ask(QStringLiteral("sync"), QStringLiteral("synced")), QStringLiteral("1"));

    // A edits meanwhile, then both poll.
    setMember(pin, QStringLiteral("data"), QStringLiteral("note, edited by A"));
    setMember(skrin, QStringLiteral("trashed"), 1);
    QVERIFY(syncAll());
    QVERIFY(commitOnce());
    QCOMPARE(other.ask(QStringLiteral("sync"), QStringLiteral("synced")), QStringLiteral("1"));

    const QVariantMap mine = snapshot();
    const QVariantMap theirs =
        QJsonDocument::fromJson(other.ask(QStringLiteral("dump"), QStringLiteral("dump")).toUtf8()).toVariant().toMap();
    QCOMPARE(mine.size(), 4);
    QCOMPARE(QJsonDocument::fromVariant(theirs).toJson(), QJsonDocument::fromVariant(mine).toJson());
    const QVariantMap mySkrin = mine.value(QString::number(skrinOnServer)).toMap();
    QCOMPARE(mySkrin.value(QStringLiteral("desc")).toString(), QStringLiteral("written by B"));
    QCOMPARE(mySkrin.value(QStringLiteral("trashed")).toString(), QStringLiteral("1"));
    QCOMPARE(server->itemIds().size(), 4);
}

void TestTwoClients::killedClientLosesAndDuplicatesNothing()
{
    QTemporaryDir folder;
    QVERIFY(other.start(server->endpoint(), folder.path()));
    QCOMPARE(other.ask(QStringLiteral("sync"), QStringLiteral("synced")), QStringLiteral("1"));
    const QString skrin = other.ask(QStringLiteral("create skrin"), QStringLiteral("id"));
    other.ask(QStringLiteral("set %1 title survives").arg(skrin), QStringLiteral("done"));
    QCOMPARE(other.ask(QStringLiteral("flush"), QStringLiteral("flushed")), QStringLiteral("1"));

    // The service applies the commit; the client dies before the answer.
    server->setHoldAnswers(true);
    other.ask(QStringLiteral("commit"), QStringLiteral("sent"));
    QTRY_COMPARE(server->heldAnswerCount(), 1);
    other.kill();
    server->setHoldAnswers(false);
    server->releaseHeldAnswers();
    QCOMPARE(server->itemIds(QStringLiteral("skrin")).size(), 1);

    // Started again on its folder, it sends the same commit: same id, no twin.
    QVERIFY(other.start(server->endpoint(), folder.path()));
    QCOMPARE(other.ask(QStringLiteral("sync"), QStringLiteral("synced")), QStringLiteral("1"));
    const QList<qint64> skrins = server->itemIds(QStringLiteral("skrin"));
    QCOMPARE(skrins.size(), 1);
    QCOMPARE(other.ask(QStringLiteral("server %1").arg(skrin), QStringLiteral("server")).toLongLong(),
             skrins.first());
    QCOMPARE(server->member(skrins.first(), QStringLiteral("title")).toString(), QStringLiteral("survives"));
    const QVariantMap theirs =
        QJsonDocument::fromJson(other.ask(QStringLiteral("dump"), QStringLiteral("dump")).toUtf8()).toVariant().toMap();
    QCOMPARE(theirs.size(), 1);
    QCOMPARE(theirs.first().toMap().value(QStringLiteral("title")).toString(), QStringLiteral("survives"));
}

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
