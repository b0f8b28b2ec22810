// File downloads: at most five at once, broken addresses rest for 15 s, a
// failed file is fetched again later, and only wanted bytes are kept.

#include "syncfixture.h"

#include <QTimer>

using namespace synctest;

namespace {

QDateTime fakeNow;

} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void atMostFiveInFlight();
    void brokenAddressRestsThenReloads();
    void emptyBodyIsAFailure();
    void onlyWantedBytesAreStored();
    void queueOrderAndDuplicates();

private:
    // Items with a file member set on the service, polled into the store.
    QList<qint64> remoteFiles(int count, QList<QByteArray> *contents = nullptr);

    QTemporaryDir dir;
    TestServer *server = nullptr;
};

void TestDownloads::init()
{
    server = new TestServer(this);
    QVERIFY(server->listen());
    QVERIFY(freshClient(*server, dir.path()));
    fakeNow = QDateTime::currentDateTime();
    TavrinConnector::setClock([] { return fakeNow; });
}

void TestDownloads::cleanup()
{
    TavrinConnector::setClock({});
    settle();
    delete server;
    server = nullptr;
}

void TestDownloads::cleanupTestCase()
{
    shutdownBackground();
}

QList<qint64> TestDownloads::remoteFiles(int count, QList<QByteArray> *contents)
{
    QList<qint64> ids;
    for (int i = 0; i < count; ++i) {
        const qint64 id = server->createItem(mail, QStringLiteral("skrin"));
        const QByteArray bytes = pngBytes(3 + i);
        server->setFileMember(id, QStringLiteral("file"), bytes);
        ids.append(id);
        if (contents)
            contents->append(bytes);
    }
    if (!commitOnce())
        return {};
    return ids;
}

void TestDownloads::atMostFiveInFlight()
{
    QList<QByteArray> contents;
    const QList<qint64> ids = remoteFiles(7, &contents);
    QCOMPARE(ids.size(), 7);
    QCOMPARE(rowsOf("downloads"), 7);

    for (const qint64 id : ids)
        QVERIFY(getMember(id, QStringLiteral("file")).isNull()); // each read asks for its file
    // No answer arrives inside the reads: five go, two wait.
    QCOMPARE(runningDownloads.size(), 5);
    QCOMPARE(queuedDownloads().size(), 2);
    // Each download in flight names the item that waits for it.
    QSet<Id> carried;
    for (const ConnectionId connection : std::as_const(runningDownloads))
        carried.unite(transferItems(connection));
    QCOMPARE(carried.size(), 5);

    // Every finished download starts the next one.
    QTRY_COMPARE(rowsOf("downloads"), 0);
    QVERIFY(runningDownloads.isEmpty() && queuedDownloads().isEmpty());
    QCOMPARE(fileRequests(*server), 7);
    for (qsizetype i = 0; i < ids.size(); ++i)
        QCOMPARE(itemFileData(ids.at(i), QStringLiteral("file")), contents.at(i));
    QVERIFY(nothingPending()); // fetched files are not sent back
}

void TestDownloads::brokenAddressRestsThenReloads()
{
    QList<QByteArray> contents;
    const QList<qint64> ids = remoteFiles(1, &contents);
    QCOMPARE(ids.size(), 1);
    const qint64 id = ids.first();
    const QString url = Database::valueWhere(downloadsTable, Conditions{{downloadsIdColumn, QVariant(id)}},
                                             downloadsUrlColumn)
                            .toString();

    server->setDownloadFault(TestServer::Fault::Http500, 1);
    getMember(id, QStringLiteral("file"));
    QTRY_VERIFY(brokenDownloads.contains(url));
    QVERIFY(brokenDownloadsTimer->isActive());
    QCOMPARE(rowsOf("downloads"), 1); // the member still waits

    // Refused while it rests, even when asked for again.
    const int requests = fileRequests(*server);
    getMember(id, QStringLiteral("file"));
    QVERIFY(runningDownloads.isEmpty());
    fakeNow = fakeNow.addSecs(15);
    TavrinConnector::instance()->brokenDownloadsCheck();
    QVERIFY(brokenDownloads.contains(url));
    getMember(id, QStringLiteral("file"));
    QVERIFY(runningDownloads.isEmpty());
    QCOMPARE(fileRequests(*server), requests);

    // More than 15 s later it is dropped (not fetched by the check itself) ...
    fakeNow = fakeNow.addSecs(1);
    TavrinConnector::instance()->brokenDownloadsCheck();
    QVERIFY(brokenDownloads.isEmpty());
    QVERIFY(!brokenDownloadsTimer->isActive());
    QVERIFY(runningDownloads.isEmpty());
    // ... and the next read fetches it.
    QVERIFY(getMember(id, QStringLiteral("file")).isNull());
    QTRY_COMPARE(itemFileData(id, QStringLiteral("file")), contents.first());
    QCOMPARE(rowsOf("downloads"), 0);
}

void TestDownloads::emptyBodyIsAFailure()
{
    const QList<qint64> ids = remoteFiles(1);
    QCOMPARE(ids.size(), 1);
    const int filesBefore = QDir(dir.path() + QStringLiteral("/files")).entryList(QDir::Files).size();
    server->setDownloadFault(TestServer::Fault::Empty, 1);
    getMember(ids.first(), QStringLiteral("file"));
    QTRY_COMPARE(brokenDownloads.size(), 1);
    QCOMPARE(rowsOf("downloads"), 1);
    QVERIFY(getMember(ids.first(), QStringLiteral("file")).isNull());
    QCOMPARE(readItem(ids.first(), true).value(QStringLiteral("file")).toString(), QStringLiteral("%downloading%"));
    QVERIFY(Database::flush());
    QCOMPARE(QDir(dir.path() + QStringLiteral("/files")).entryList(QDir::Files).size(), filesBefore);
}

void TestDownloads::onlyWantedBytesAreStored()
{
    TavrinConnector *connector = TavrinConnector::instance();
    QVERIFY(!connector->storeDownloadedFile(QStringLiteral("http://127.0.0.1:1/nobody.png"), pngBytes()));
    QVERIFY(!connector->storeDownloadedFile(QString(), pngBytes()));

    // A member set here while its file is on the way keeps the local value.
    const QList<qint64> ids = remoteFiles(1);
    QCOMPARE(ids.size(), 1);
    const qint64 id = ids.first();
    const QString url = Database::valueWhere(downloadsTable, Conditions{{downloadsIdColumn, QVariant(id)}},
                                             downloadsUrlColumn)
                            .toString();
    server->setDownloadFault(TestServer::Fault::Hang, 1);
    getMember(id, QStringLiteral("file"));
    QVERIFY(runningDownloads.contains(url));
    const QByteArray local = pngBytes(9);
    setMemberFile(id, QStringLiteral("file"), local);
    QCOMPARE(rowsOf("downloads"), 0);
    QVERIFY(!connector->storeDownloadedFile(url, pngBytes(4)));
    QCOMPARE(itemFileData(id, QStringLiteral("file")), local);
    QVERIFY(!connector->storeDownloadedFile(url, QByteArray()));
}

void TestDownloads::queueOrderAndDuplicates()
{
    TavrinConnector *connector = TavrinConnector::instance();
    connector->downloadFile(QString());
    QVERIFY(queuedDownloads().isEmpty() && runningDownloads.isEmpty());

    // Five addresses that never answer fill the slots; later requests queue,
    // newest first, one copy each.
    server->setDownloadFault(TestServer::Fault::Hang);
    for (int i = 0; i < 5; ++i)
        connector->downloadFile(server->baseUrl() + QStringLiteral("/files/busy%1.png").arg(i));
    QCOMPARE(runningDownloads.size(), 5);
    const QString a = server->baseUrl() + QStringLiteral("/files/a.png");
    const QString b = server->baseUrl() + QStringLiteral("/files/b.png");
    connector->downloadFile(a);
    connector->downloadFile(b);
    connector->downloadFile(a);
    QCOMPARE(queuedDownloads(), (QList<QString>{a, b}));
    connector->downloadFile(server->baseUrl() + QStringLiteral("/files/busy0.png"));
    QCOMPARE(queuedDownloads().size(), 2);
    QCOMPARE(removeFromDownloadQueue(a), 1);
    QCOMPARE(queuedDownloads(), QList<QString>{b});
    NetworkConnector::shutdown();
    runningDownloads.clear();
    removeFromDownloadQueue(b);
}

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
