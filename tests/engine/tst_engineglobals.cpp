// Engine globals: start values, the connector and its emitters, commit state,
// folders, start-up and shutdown.

#include "enginefixture.h"
#include "enginestart.h"

#include <QAtomicInt>
#include <QSignalSpy>
#include <QThreadPool>

class TestEngineGlobals : public QObject
{
    Q_OBJECT

private slots:
    void beforeStartUpNothingHappens(); // first: no connector, no store yet
    void connectorSignals();
    void syncedTables();
    void commitState();
    void folders();
    void startAndShutdown();
};

void TestEngineGlobals::beforeStartUpNothingHappens()
{
    QVERIFY(!TavrinConnector::instance());
    requestCommit();
    emitResetSignals();
    emitWrongVersion();
    QCOMPARE(createItem(QStringLiteral("skrin")), Id(0));
    QVERIFY(findItems({{QStringLiteral("type"), QStringLiteral("skrin")}}).isEmpty());
    QCOMPARE(getMember(-1, QStringLiteral("parent")), QVariant(Id(0)));
    QCOMPARE(engineVersion(), QStringLiteral("1.0.1"));
    QVERIFY(commitHurry);
}

void TestEngineGlobals::connectorSignals()
{
    TavrinConnector *connector = TavrinConnector::create();
    QCOMPARE(TavrinConnector::create(), connector);
    QCOMPARE(TavrinConnector::instance(), connector);

    QStringList order;
    connect(connector, &TavrinConnector::resetSignal, this, [&] { order << QStringLiteral("reset"); });
    connect(connector, &TavrinConnector::serverOptionsInitSignal, this, [&] { order << QStringLiteral("options"); });
    emitResetSignals();
    QCOMPARE(order, (QStringList{QStringLiteral("reset"), QStringLiteral("options")}));

    QSignalSpy wrong(connector, &TavrinConnector::wrongVersionSignal);
    emitWrongVersion();
    QCOMPARE(wrong.size(), 1);

    // A commit asked for on a pool thread is emitted there and reaches the
    // connector's own thread through the queue.
    QSignalSpy commits(connector, &TavrinConnector::commitSignal);
    QThreadPool::globalInstance()->start([] { requestCommit(); });
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(commits.size(), 1);
}

void TestEngineGlobals::syncedTables()
{
    const QStringList names = syncedTableNames();
    QCOMPARE(names.size(), 16);
    QCOMPARE(names.first(), QStringLiteral("share"));
    QCOMPARE(names.last(), QStringLiteral("server_option"));
    QVERIFY(!names.contains(QStringLiteral("items")) && !names.contains(QStringLiteral("options")));
}

void TestEngineGlobals::commitState()
{
    QCOMPARE(commitRemainingMs(), 0);
    commitDelayMs = 500;
    commitScheduledAt = QDateTime::currentDateTime().addSecs(-2);
    QCOMPARE(commitRemainingMs(), 1);
    commitScheduledAt = QDateTime::currentDateTime().addSecs(60);
    QVERIFY(commitRemainingMs() >= 500);
    commitDelayMs = 0;

    QVERIFY(!isCommitRunning());
    commitConnection = 1;
    QVERIFY(isCommitRunning());
    commitConnection = 0;
    QVERIFY(isLastCommitOk());
    commitFailures = 2;
    QVERIFY(!isLastCommitOk());
    commitFailures = 0;

    setCommitHurry(false);
    QVERIFY(!commitHurry);
    setCommitHurry(true);
    QVERIFY(!closeQuitsApplication());
    QVERIFY(!isAnyWindowVisible());
}

void TestEngineGlobals::folders()
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QCOMPARE(dataDirectory(true), QDir::currentPath());
    QVERIFY(QDir::setCurrent(before));
    QVERIFY(!dataDirectory(false).isEmpty());

    const QString server = defaultServerUrl();
    QVERIFY(server.startsWith(QLatin1String("http://")));
    QVERIFY(!server.endsWith(QLatin1Char('/')));
}

void TestEngineGlobals::startAndShutdown()
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(engineStart(true));
    QVERIFY(engineStart(true)); // runs once
    QVERIFY(QMetaType::fromName("Id").isValid());
    QVERIFY(Database::isOpen());
    QCOMPARE(Database::dataFolder(), QDir(dir.path()).absolutePath());
    QCOMPARE(createItem(QStringLiteral("skrin")), Id(-1));

    // Shutdown waits for pool jobs before the store closes.
    QAtomicInt done = 0;
    QThreadPool::globalInstance()->start([&done] {
        QThread::msleep(50);
        setMember(-1, QStringLiteral("title"), QStringLiteral("late"));
        done = 1;
    });
    shutdownBackground();
    QCOMPARE(done.loadRelaxed(), 1);
    QVERIFY(!Database::isOpen());
    QVERIFY(Database::open(dir.path()));
    bindTables();
    QCOMPARE(getMember(-1, QStringLiteral("title")).toString(), QStringLiteral("late"));
    Database::close();
    settle();
    QVERIFY(QDir::setCurrent(before));
}

QTEST_MAIN(TestEngineGlobals)
#include "tst_engineglobals.moc"
