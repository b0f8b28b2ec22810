// A large account: the service pages its changes over several polls, and the
// client applies a long answer in slices that give the event loop its turn,
// with every watcher notice in order and no commit in between.

#include "syncfixture.h"

using namespace synctest;

class TestBigAccount : public QObject, SyncCase
{
    Q_OBJECT

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
        watchInterface({{"type", "skrin"}}, &recorder);
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
        unwatchInterface(&recorder);
    }
};

QTEST_MAIN(TestBigAccount)
#include "tst_bigaccount.moc"
