// The connector as the engine's sync service: requests before start-up, its
// signals, the commit timer, start-up in a portable folder and shutdown.

#include "enginefixture.h"
#include "enginestart.h"
#include "sync_p.h"
#include "tavrinconnector.h"

#include <QAtomicInt>
#include <QSignalSpy>
#include <QThreadPool>

class TestConnector : public QObject
{
    Q_OBJECT

private slots:
    void beforeStartUpNothingHappens() // first: no connector, no store yet
    {
        QVERIFY(!TavrinConnector::instance() && !syncService());
        requestCommit();
        emitResetSignals();
        emitWrongVersion();
        QCOMPARE(createItem("skrin"), Id(0));
        QVERIFY(findItems({{"type", "skrin"}}).isEmpty());
        QCOMPARE(getMember(-1, "parent"), QVariant(Id(0)));
    }

    void connectorSignals()
    {
        TavrinConnector *connector = TavrinConnector::create();
        QCOMPARE(TavrinConnector::create(), connector);
        QCOMPARE(syncService(), connector);
        QStringList order;
        connect(connector, &TavrinConnector::resetSignal, this, [&] { order << "reset"; });
        connect(connector, &TavrinConnector::serverOptionsInitSignal, this, [&] { order << "options"; });
        emitResetSignals();
        QCOMPARE(order, (QStringList{"reset", "options"}));
        QSignalSpy wrong(connector, &TavrinConnector::wrongVersionSignal);
        emitWrongVersion();
        QCOMPARE(wrong.size(), 1);
        // A commit asked for on a pool thread reaches the connector's thread.
        QSignalSpy commits(connector, &TavrinConnector::commitSignal);
        QThreadPool::globalInstance()->start([] { requestCommit(); });
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(commits.size(), 1);
    }

    void commitRemainingTime() // never below 1 ms while a commit is scheduled
    {
        QCOMPARE(commitRemainingMs(), 0);
        commitDelayMs = 500;
        commitScheduledAt = QDateTime::currentDateTime().addSecs(-2);
        QCOMPARE(commitRemainingMs(), 1);
        commitDelayMs = 0;
    }

    // A portable start keeps its data in the current folder; shutdown waits
    // for pool jobs before the store closes.
    void startAndShutdown()
    {
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        QVERIFY(engineStart(true));
        QVERIFY(engineStart(true)); // runs once
        QVERIFY(QMetaType::fromName("Id").isValid());
        QCOMPARE(Database::dataFolder(), QDir(dir.path()).absolutePath());
        QCOMPARE(createItem("skrin"), Id(-1));
        QAtomicInt done = 0;
        QThreadPool::globalInstance()->start([&done] {
            QThread::msleep(50);
            setMember(-1, "title", "late");
            done = 1;
        });
        shutdownBackground();
        QCOMPARE(done.loadRelaxed(), 1);
        QVERIFY(!Database::isOpen());
        QVERIFY(Database::open(dir.path()));
        bindTables();
        QCOMPARE(getMember(-1, "title").toString(), "late");
        Database::close();
        settle();
        QVERIFY(QDir::setCurrent(before));
    }
};

QTEST_MAIN(TestConnector)
#include "tst_connector.moc"
