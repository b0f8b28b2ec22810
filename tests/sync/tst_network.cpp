// The HTTP layer and the form builder against the loopback service: request
// ids, queued delivery, refused addresses, time-outs, shutdown, and names
// that could forge parts of a form. (A status that is not 2xx failing is
// covered by the commit and download tests.)

#include "multipartformdata.h"
#include "networkconnector.h"
#include "testserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

// What `finished` delivered for one request: (error, answer), once each time.
using Deliveries = QList<std::pair<bool, QByteArray>>;
const Deliveries failedOnce{{true, QByteArray()}};

Deliveries deliveries(const QSignalSpy &spy, ConnectionId id)
{
    Deliveries result;
    for (const QList<QVariant> &arguments : spy) {
        if (arguments.at(0).toInt() == id)
            result.append({arguments.at(1).toBool(), arguments.at(2).toByteArray()});
    }
    return result;
}

void expectNetworkErrors(int count)
{
    for (int i = 0; i < count; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Network Error "));
}

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestServer> server;
    NetworkConnector *net = NetworkConnector::instance();

    // Sends a form to the server and waits for its answer.
    ConnectionId exchange(const MultipartFormData &form)
    {
        QSignalSpy spy(net, &NetworkConnector::finished);
        const ConnectionId id = net->post(QUrl(server->endpoint()), form);
        (void)QTest::qWaitFor([&] { return !deliveries(spy, id).isEmpty(); }, 10000);
        return id;
    }

private slots:
    void init()
    {
        server = std::make_unique<TestServer>();
        QVERIFY(server->listen());
    }
    void cleanup()
    {
        NetworkConnector::shutdown();
        NetworkConnector::setTransferTimeout(0);
        server.reset();
    }

    void idsCountFromOneAndDeliveryIsQueued()
    {
        const qint64 item = server->createItem("a@example.org", "skrin");
        const QString address = server->setFileMember(item, "file", "png bytes");
        QSignalSpy spy(net, &NetworkConnector::finished);
        MultipartFormData form;
        QVERIFY(form.addField("action", "commit"));
        expectNetworkErrors(1);
        QCOMPARE(net->post(QUrl(server->endpoint()), form), 1);
        const ConnectionId refused = net->get(QUrl("file:///etc/hostname"));
        const ConnectionId download = net->get(QUrl(address));
        QCOMPARE(refused, 2);
        // Not even the refusal arrives inside the call that made the request.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 3);
        // Every request ends exactly once, and each carried the user agent.
        QTest::qWait(50);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(deliveries(spy, refused), failedOnce);
        QCOMPARE(deliveries(spy, download), (Deliveries{{false, "png bytes"}}));
        QCOMPARE(net->pendingCount(), 0);
        QCOMPARE(server->requests().size(), 2);
        for (const TestServer::Request &request : server->requests())
            QCOMPARE(request.userAgent, "tavrin-engine");
    }

    void onlyHttpAddressesAreFetched()
    {
        QSignalSpy spy(net, &NetworkConnector::finished);
        for (const char *address : {"file:///etc/passwd", "qrc:/rc/icon.png", "data:text/plain;base64,c2VjcmV0",
                                    "/files/x.png", "ftp://127.0.0.1/x", ""}) {
            expectNetworkErrors(2);
            const ConnectionId post = net->post(QUrl(address), MultipartFormData());
            const ConnectionId get = net->get(QUrl(address));
            QTRY_COMPARE(deliveries(spy, post), failedOnce);
            QTRY_COMPARE(deliveries(spy, get), failedOnce);
        }
        QCOMPARE(server->requests().size(), 0);
    }

    void silentRequestsEndByTimeOutOrShutdown()
    {
        NetworkConnector::setTransferTimeout(300);
        server->setFault(TestServer::Fault::Hang);
        server->setDownloadFault(TestServer::Fault::Hang, 1);
        QSignalSpy spy(net, &NetworkConnector::finished);
        expectNetworkErrors(1); // one server, silent for both
        const ConnectionId post = net->post(QUrl(server->endpoint()), MultipartFormData());
        const ConnectionId get = net->get(QUrl(server->baseUrl() + "/files/x.png"));
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() == 2, 20000);
        QCOMPARE(deliveries(spy, post), failedOnce);
        QCOMPARE(deliveries(spy, get), failedOnce);
        // No request may wait for ever: the default comes back.
        NetworkConnector::setTransferTimeout(-5);
        QCOMPARE(NetworkConnector::transferTimeout(), 60000);

        // A shutdown ends what hangs without a word, and a refusal whose
        // failure is still queued as well.
        const ConnectionId hanging = net->post(QUrl(server->endpoint()), MultipartFormData());
        QTRY_COMPARE(server->requestCount("/tavrin-engine"), 2);
        expectNetworkErrors(1);
        const ConnectionId refused = net->get(QUrl("qrc:/x"));
        NetworkConnector::shutdown();
        QCOMPARE(net->pendingCount(), 0);
        QTest::qWait(100);
        QVERIFY(deliveries(spy, hanging).isEmpty() && deliveries(spy, refused).isEmpty());
        // The layer stays usable after a shutdown.
        expectNetworkErrors(1);
        const ConnectionId later = net->get(QUrl(server->baseUrl() + "/files/none"));
        QTRY_COMPARE(deliveries(spy, later), failedOnce);
    }

    // A server that does not answer is told once per change: refused, then
    // silent, then answering again; not at every attempt.
    void unreachableServerIsToldOncePerChange()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl refusing(QStringLiteral("http://127.0.0.1:%1/tavrin-engine").arg(closed.serverPort()));
        closed.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Network Error Connection refused from http://127"));
        QTest::failOnWarning(QRegularExpression("^Network Error"));
        QSignalSpy spy(net, &NetworkConnector::finished);
        for (int attempt = 0; attempt < 3; ++attempt) {
            const ConnectionId id = net->post(refusing, MultipartFormData());
            QTRY_COMPARE(deliveries(spy, id), failedOnce);
        }

        NetworkConnector::setTransferTimeout(300);
        server->setFault(TestServer::Fault::Hang, 2);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Network Error .*no transfer for 300 ms"));
        for (int attempt = 0; attempt < 2; ++attempt)
            QCOMPARE(deliveries(spy, exchange(MultipartFormData())), failedOnce);
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("answers again$"));
        QCOMPARE(deliveries(spy, exchange(MultipartFormData())).value(0).first, false);
        server->setFault(TestServer::Fault::Hang, 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Network Error .*no transfer for 300 ms"));
        QCOMPARE(deliveries(spy, exchange(MultipartFormData())), failedOnce);
    }

    // A server that sends more than any answer can hold is cut off: the
    // request fails instead of filling memory.
    void oversizedAnswersFail()
    {
        NetworkConnector::setMaxAnswerSize(1024 * 1024);
        server->setFault(TestServer::Fault::Huge, 1); // 2 MB
        QSignalSpy spy(net, &NetworkConnector::finished);
        expectNetworkErrors(1);
        const ConnectionId big = net->post(QUrl(server->endpoint()), MultipartFormData());
        QTRY_COMPARE(deliveries(spy, big), failedOnce);
        NetworkConnector::setMaxAnswerSize(0);
        const ConnectionId normal = exchange(MultipartFormData());
        QCOMPARE(deliveries(spy, normal).size(), 1);
        QVERIFY(!deliveries(spy, normal).first().first);

        // Engine answers stop at 16 MiB whatever the limit; downloads do not.
        server->setHugeSize(NetworkConnector::maxEngineAnswerBytes + 1024);
        server->setFault(TestServer::Fault::Huge, 1);
        expectNetworkErrors(1);
        QCOMPARE(deliveries(spy, exchange(MultipartFormData())), failedOnce);
        server->setDownloadFault(TestServer::Fault::Huge, 1);
        const ConnectionId file = net->get(QUrl(server->baseUrl() + "/files/none"));
        QTRY_COMPARE(deliveries(spy, file).size(), 1);
        QVERIFY(!deliveries(spy, file).first().first);
    }

    // A form never follows a redirect to another origin; a download follows
    // one to another http(s) address only.
    void redirectsAreChecked()
    {
        TestServer other;
        QVERIFY(other.listen());
        QSignalSpy spy(net, &NetworkConnector::finished);
        server->setRedirect(other.endpoint());
        MultipartFormData form;
        QVERIFY(form.addField("hash", "secret"));
        expectNetworkErrors(1);
        QCOMPARE(deliveries(spy, exchange(form)), failedOnce);
        QCOMPARE(other.requests().size(), 0);

        other.addUser("a@example.org", "x");
        const QString elsewhere = other.setFileMember(other.createItem("a@example.org", "skrin"), "file", "bytes");
        server->setFileRedirect(elsewhere);
        const ConnectionId followed = net->get(QUrl(server->baseUrl() + "/files/x.png"));
        QTRY_COMPARE(deliveries(spy, followed), (Deliveries{{false, "bytes"}}));
        server->setFileRedirect("file:///etc/passwd");
        expectNetworkErrors(1);
        const ConnectionId local = net->get(QUrl(server->baseUrl() + "/files/x.png"));
        QTRY_COMPARE(deliveries(spy, local), failedOnce);
    }

    void hostileNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("quote") << "a\"; name=\"action";
        QTest::newRow("CR") << "a\rb";
        QTest::newRow("LF") << "a\nContent-Type: text/html";
        QTest::newRow("CRLF") << "a\r\n\r\nbody";
        QTest::newRow("NUL") << QStringLiteral("a%1b").arg(QChar(0));
        QTest::newRow("empty") << QString();
    }
    void hostileNamesAreRefused()
    {
        QFETCH(QString, name);
        MultipartFormData form;
        QVERIFY(form.addField("action", "commit"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused the field name"));
        QVERIFY(!form.addField(name, "x"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused the field name"));
        QVERIFY(!form.addFile(name, "a.png", "x"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused the file name"));
        QVERIFY(!form.addFile("file:-1:file", name, "x"));
        QCOMPARE(form.count(), 1);
    }

    void formPartsArriveIntact()
    {
        QByteArray binary(2 * 1024 * 1024, 'p');
        for (int i = 0; i < 256; ++i)
            binary.append(char(i));
        binary += QByteArrayLiteral("\r\n--boundary\r\n\r\n\0\0--\r\n");
        const QString text = QStringLiteral("zażółć \"quoted\"\r\nline\t") + QString::fromUtf8("\xF0\x9F\x98\x80");
        MultipartFormData form;
        QVERIFY(form.addField("title", text));
        QVERIFY(form.addField("empty", QString()));
        QVERIFY(form.addFile("file:-12:file", "ab12.png", binary));
        QVERIFY(form.addFile("file:1000:thumbnail64_file", "zero.jpg", QByteArray()));

        // A form is a value: it can be sent twice.
        exchange(form);
        exchange(form);
        QCOMPARE(server->requests().size(), 2);
        for (const TestServer::Request &request : server->requests()) {
            QCOMPARE(request.fields, (QHash<QString, QString>{{"title", text}, {"empty", ""}}));
            QCOMPARE(request.files.size(), 2);
            QCOMPARE(request.files.value("file:-12:file").fileName, "ab12.png");
            QCOMPARE(request.files.value("file:-12:file").data, binary);
            QCOMPARE(request.files.value("file:1000:thumbnail64_file").data, QByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
