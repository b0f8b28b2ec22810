#include "multipartformdata.h"
#include "networkconnector.h"
#include "testserver.h"

#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Outcome
{
    bool seen = false;
    bool error = false;
    QByteArray answer;
};

Outcome outcomeOf(const QSignalSpy &spy, ConnectionId id)
{
    Outcome outcome;
    for (const QList<QVariant> &arguments : spy) {
        if (arguments.at(0).toInt() == id) {
            outcome.seen = true;
            outcome.error = arguments.at(1).toBool();
            outcome.answer = arguments.at(2).toByteArray();
        }
    }
    return outcome;
}

int deliveriesOf(const QSignalSpy &spy, ConnectionId id)
{
    int count = 0;
    for (const QList<QVariant> &arguments : spy)
        count += arguments.at(0).toInt() == id ? 1 : 0;
    return count;
}

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void idsCountFromOneAndDeliveryIsQueued();
    void userAgentOnEveryRequest();
    void failedAnswersAreErrorsWithoutBody_data();
    void failedAnswersAreErrorsWithoutBody();
    void silentServerTimesOut();
    void onlyHttpAddressesAreFetched_data();
    void onlyHttpAddressesAreFetched();
    void shutdownAbortsWithoutDelivery();
    void hostileNamesAreRefused_data();
    void hostileNamesAreRefused();
    void formPartsArriveIntact();
    void uploadReportsProgress();
    void serverCommitsAreIdempotentAndPolled();
    void serverFaultsShapeTheAnswer_data();
    void serverFaultsShapeTheAnswer();
    void heldAnswerArrivesOnRelease();

private:
    // Sends a form to the server and waits for its answer (a JSON object).
    QJsonObject exchange(const MultipartFormData &form);

    TestServer *server = nullptr;
    NetworkConnector *net = nullptr;
};

void TestNetwork::init()
{
    server = new TestServer(this);
    QVERIFY(server->listen());
    net = NetworkConnector::instance();
    QVERIFY(net);
}

void TestNetwork::cleanup()
{
    NetworkConnector::shutdown();
    NetworkConnector::setTransferTimeout(0);
    delete server;
    server = nullptr;
}

QJsonObject TestNetwork::exchange(const MultipartFormData &form)
{
    QSignalSpy spy(net, &NetworkConnector::finished);
    const ConnectionId id = net->post(QUrl(server->endpoint()), form);
    if (!QTest::qWaitFor([&] { return outcomeOf(spy, id).seen; }, 10000))
        return {};
    const Outcome outcome = outcomeOf(spy, id);
    return outcome.error ? QJsonObject() : QJsonDocument::fromJson(outcome.answer).object();
}

void TestNetwork::idsCountFromOneAndDeliveryIsQueued()
{
    QSignalSpy spy(net, &NetworkConnector::finished);
    MultipartFormData form;
    QVERIFY(form.addField(QStringLiteral("action"), QStringLiteral("commit")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    const ConnectionId first = net->post(QUrl(server->endpoint()), form);
    const ConnectionId refused = net->get(QUrl(QStringLiteral("file:///etc/hostname")));
    const ConnectionId missing = net->get(QUrl(server->baseUrl() + QStringLiteral("/files/nothing")));
    QCOMPARE(first, 1);
    QCOMPARE(refused, 2);
    QCOMPARE(missing, 3);
    // Not even the refusal arrives inside the call that made the request.
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE(spy.count(), 3);
    QVERIFY(outcomeOf(spy, refused).error);
    QVERIFY(outcomeOf(spy, missing).error);
    // Every request ends exactly once.
    QTest::qWait(50);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(net->pendingCount(), 0);
}

void TestNetwork::userAgentOnEveryRequest()
{
    const qint64 item = server->createItem(QStringLiteral("a@example.org"), QStringLiteral("skrin"));
    const QString address = server->setFileMember(item, QStringLiteral("file"), QByteArrayLiteral("png bytes"));
    QSignalSpy spy(net, &NetworkConnector::finished);
    const ConnectionId download = net->get(QUrl(address));
    const ConnectionId post = net->post(QUrl(server->endpoint()), MultipartFormData());
    QTRY_VERIFY(outcomeOf(spy, download).seen && outcomeOf(spy, post).seen);
    QCOMPARE(outcomeOf(spy, download).error, false);
    QCOMPARE(outcomeOf(spy, download).answer, QByteArrayLiteral("png bytes"));

    QCOMPARE(server->requests().size(), 2);
    for (const TestServer::Request &request : server->requests())
        QCOMPARE(request.userAgent, QByteArrayLiteral("tavrin-engine"));
}

void TestNetwork::failedAnswersAreErrorsWithoutBody_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("download");
    QTest::newRow("500 with a valid-looking body") << int(TestServer::Fault::Http500) << false;
    QTest::newRow("500 on a download") << int(TestServer::Fault::Http500) << true;
    QTest::newRow("404 on a download") << int(TestServer::Fault::None) << true;
}

void TestNetwork::failedAnswersAreErrorsWithoutBody()
{
    QFETCH(int, fault);
    QFETCH(bool, download);
    QSignalSpy spy(net, &NetworkConnector::finished);
    ConnectionId id = 0;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    if (download) {
        server->setDownloadFault(TestServer::Fault(fault));
        id = net->get(QUrl(server->baseUrl() + QStringLiteral("/files/unknown.png")));
    } else {
        server->setFault(TestServer::Fault(fault));
        MultipartFormData form;
        form.addField(QStringLiteral("action"), QStringLiteral("commit"));
        id = net->post(QUrl(server->endpoint()), form);
    }
    QTRY_VERIFY(outcomeOf(spy, id).seen);
    QVERIFY(outcomeOf(spy, id).error);
    QVERIFY(outcomeOf(spy, id).answer.isEmpty());
}

void TestNetwork::silentServerTimesOut()
{
    NetworkConnector::setTransferTimeout(300);
    QCOMPARE(NetworkConnector::transferTimeout(), 300);
    server->setFault(TestServer::Fault::Hang);
    QSignalSpy spy(net, &NetworkConnector::finished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    const ConnectionId silentPort = net->get(QUrl(server->silentUrl()));
    const ConnectionId hangingRoute = net->post(QUrl(server->endpoint()), MultipartFormData());
    QTRY_VERIFY_WITH_TIMEOUT(outcomeOf(spy, silentPort).seen && outcomeOf(spy, hangingRoute).seen, 20000);
    QVERIFY(outcomeOf(spy, silentPort).error);
    QVERIFY(outcomeOf(spy, hangingRoute).error);
    QCOMPARE(deliveriesOf(spy, silentPort), 1);

    NetworkConnector::setTransferTimeout(-5);
    QCOMPARE(NetworkConnector::transferTimeout(), 60000);
}

void TestNetwork::onlyHttpAddressesAreFetched_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("file") << QStringLiteral("file:///etc/passwd");
    QTest::newRow("qrc") << QStringLiteral("qrc:/rc/icon.png");
    QTest::newRow("data") << QStringLiteral("data:text/plain;base64,c2VjcmV0");
    QTest::newRow("relative") << QStringLiteral("/files/x.png");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/x");
    QTest::newRow("empty") << QString();
}

void TestNetwork::onlyHttpAddressesAreFetched()
{
    QFETCH(QString, address);
    QSignalSpy spy(net, &NetworkConnector::finished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    const ConnectionId get = net->get(QUrl(address));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    const ConnectionId post = net->post(QUrl(address), MultipartFormData());
    QTRY_COMPARE(spy.count(), 2);
    QVERIFY(outcomeOf(spy, get).error && outcomeOf(spy, get).answer.isEmpty());
    QVERIFY(outcomeOf(spy, post).error && outcomeOf(spy, post).answer.isEmpty());
}

void TestNetwork::shutdownAbortsWithoutDelivery()
{
    server->setFault(TestServer::Fault::Hang);
    QSignalSpy spy(net, &NetworkConnector::finished);
    const ConnectionId hanging = net->post(QUrl(server->endpoint()), MultipartFormData());
    QTRY_COMPARE(server->engineRequestCount(), 1);
    // A refusal whose failure is still queued is dropped as well.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    const ConnectionId refused = net->get(QUrl(QStringLiteral("qrc:/x")));
    NetworkConnector::shutdown();
    QCOMPARE(net->pendingCount(), 0);
    QTest::qWait(100);
    QCOMPARE(deliveriesOf(spy, hanging), 0);
    QCOMPARE(deliveriesOf(spy, refused), 0);

    // The layer stays usable after a shutdown.
    server->setFault(TestServer::Fault::None);
    const ConnectionId later = net->get(QUrl(server->baseUrl() + QStringLiteral("/files/none")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Network Error ")));
    QTRY_VERIFY(outcomeOf(spy, later).seen);
}

void TestNetwork::hostileNamesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("quote") << QStringLiteral("a\"; name=\"action");
    QTest::newRow("CR") << QStringLiteral("a\rb");
    QTest::newRow("LF") << QStringLiteral("a\nContent-Type: text/html");
    QTest::newRow("CRLF") << QStringLiteral("a\r\n\r\nbody");
    QTest::newRow("NUL") << QString(QStringLiteral("a%1b")).arg(QChar(0));
    QTest::newRow("empty") << QString();
}

void TestNetwork::hostileNamesAreRefused()
{
    QFETCH(QString, name);
    MultipartFormData form;
    QVERIFY(form.addField(QStringLiteral("action"), QStringLiteral("commit")));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused the field name")));
    QVERIFY(!form.addField(name, QStringLiteral("x")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused the field name")));
    QVERIFY(!form.addFile(name, QStringLiteral("a.png"), QByteArrayLiteral("x")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused the file name")));
    QVERIFY(!form.addFile(QStringLiteral("file:-1:file"), name, QByteArrayLiteral("x")));
    QCOMPARE(form.count(), 1);

    // What goes out is the one safe field and nothing forged.
    exchange(form);
    QCOMPARE(server->requests().size(), 1);
    const TestServer::Request &request = server->requests().constFirst();
    QCOMPARE(request.fields.size(), 1);
    QCOMPARE(request.fields.value(QStringLiteral("action")), QStringLiteral("commit"));
    QVERIFY(request.files.isEmpty());
}

void TestNetwork::formPartsArriveIntact()
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    binary += QByteArrayLiteral("\r\n--boundary\r\n\r\n\0\0--\r\n");
    binary.append('\0');
    const QString text = QStringLiteral("zażółć \"quoted\"\r\nsecond line\t") + QString::fromUtf8("\xF0\x9F\x98\x80");

    MultipartFormData form;
    QVERIFY(MultipartFormData::isSafeName(QStringLiteral("file:-12:thumbnail64_file")));
    QVERIFY(form.addField(QStringLiteral("title"), text));
    QVERIFY(form.addField(QStringLiteral("empty"), QString()));
    QVERIFY(form.addFile(QStringLiteral("file:-12:file"), QStringLiteral("ab12.png"), binary));
    QVERIFY(form.addFile(QStringLiteral("file:1000:thumbnail64_file"), QStringLiteral("zero.jpg"), QByteArray()));
    QCOMPARE(form.count(), 4);

    // A form is a value: it can be sent twice.
    exchange(form);
    exchange(form);
    QCOMPARE(server->requests().size(), 2);
    for (const TestServer::Request &request : server->requests()) {
        QCOMPARE(request.method, QStringLiteral("POST"));
        QCOMPARE(request.fields.value(QStringLiteral("title")), text);
        QVERIFY(request.fields.contains(QStringLiteral("empty")));
        QCOMPARE(request.files.size(), 2);
        QCOMPARE(request.files.value(QStringLiteral("file:-12:file")).fileName, QStringLiteral("ab12.png"));
        QCOMPARE(request.files.value(QStringLiteral("file:-12:file")).data, binary);
        QCOMPARE(request.files.value(QStringLiteral("file:1000:thumbnail64_file")).data, QByteArray());
    }
}

void TestNetwork::uploadReportsProgress()
{
    MultipartFormData form;
    form.addFile(QStringLiteral("file:-1:file"), QStringLiteral("big.png"), QByteArray(2 * 1024 * 1024, 'p'));
    QSignalSpy progress(net, &NetworkConnector::uploadProgress);
    QSignalSpy spy(net, &NetworkConnector::finished);
    const ConnectionId id = net->post(QUrl(server->endpoint()), form);
    QTRY_VERIFY(outcomeOf(spy, id).seen);
    // Reports carry the request's id and reach the whole body.
    bool complete = false;
    for (const QList<QVariant> &report : progress) {
        QCOMPARE(report.at(0).toInt(), id);
        complete = complete || (report.at(1).toLongLong() > 2 * 1024 * 1024
                                && report.at(1).toLongLong() == report.at(2).toLongLong());
    }
    QVERIFY(complete);
    QCOMPARE(server->requests().constLast().files.value(QStringLiteral("file:-1:file")).data.size(), 2 * 1024 * 1024);
}

void TestNetwork::serverCommitsAreIdempotentAndPolled()
{
    const auto commitForm = [](const QJsonObject &session, qint64 state, const QJsonArray &creates,
                               const QJsonArray &sets, const QByteArray &file = {}) {
        MultipartFormData form;
        form.addField(QStringLiteral("action"), QStringLiteral("commit"));
        form.addField(QStringLiteral("version"), QStringLiteral("1.0.1"));
        form.addField(QStringLiteral("mail"), QStringLiteral("a@example.org"));
        form.addField(QStringLiteral("hash"), QStringLiteral("0a4d55a8d778e5022fab701977c5d840bbc486d0"));
        if (!session.isEmpty()) {
            form.addField(QStringLiteral("session"), session.value(QStringLiteral("session")).toString());
            form.addField(QStringLiteral("session_key"), session.value(QStringLiteral("session_key")).toString());
        }
        form.addField(QStringLiteral("state"), QString::number(state));
        form.addField(QStringLiteral("create"), QString::fromUtf8(QJsonDocument(creates).toJson()));
        form.addField(QStringLiteral("set"), QString::fromUtf8(QJsonDocument(sets).toJson()));
        form.addField(QStringLiteral("remove"), QStringLiteral("[]"));
        if (!file.isEmpty())
            form.addFile(QStringLiteral("file:-1:file"), QStringLiteral("shot.png"), file);
        return form;
    };
    const QJsonArray creates{QJsonObject{{"id", -1}, {"type", "skrin"}}, QJsonObject{{"id", -2}, {"type", "skrin_image"}}};
    const QJsonArray sets{
        QJsonObject{{"id", -1}, {"member", "title"}, {"value", "first"}, {"modified", "2024-01-01T10:00:00.000"}},
        QJsonObject{{"id", -1}, {"member", "file"}, {"value", "shot.png"}, {"modified", "2024-01-01T10:00:00.000"}},
        QJsonObject{{"id", -2}, {"member", "parent"}, {"value", -1}, {"modified", "2024-01-01T10:00:00.000"}}};

    // Changes without a session are not applied; the answer opens one.
    QJsonObject answer = exchange(commitForm({}, 0, creates, sets, "PNG"));
    QCOMPARE(answer.value("result").toInt(), 1);
    QVERIFY(server->itemIds().isEmpty());
    const QJsonObject session = answer;
    QVERIFY(!session.value("session").toString().isEmpty());

    answer = exchange(commitForm(session, 0, creates, sets, "PNG"));
    QCOMPARE(answer.value("result").toInt(), 0);
    QCOMPARE(answer.value("translate").toObject().value("-1").toInteger(), 1000);
    QCOMPARE(answer.value("translate").toObject().value("-2").toInteger(), 1001);
    QVERIFY(answer.value("create").toArray().isEmpty()); // its own changes are not echoed
    QCOMPARE(server->member(1001, "parent").toLongLong(), 1000);
    QCOMPARE(server->fileData(server->member(1000, "file").toString()), QByteArrayLiteral("PNG"));

    // The same commit again (a lost answer): same translation, no new item.
    answer = exchange(commitForm(session, 0, creates, sets, "PNG"));
    QCOMPARE(answer.value("translate").toObject().value("-1").toInteger(), 1000);
    QCOMPARE(server->itemIds().size(), 2);
    const qint64 state = answer.value("state").toInteger();

    // A change made elsewhere arrives by poll, with the file as an address.
    server->setFileMember(1000, "file", "NEW");
    server->setMember(1000, "title", "renamed");
    answer = exchange(commitForm(session, state, {}, {}));
    QCOMPARE(answer.value("result").toInt(), 0);
    const QJsonArray remote = answer.value("set").toArray();
    QCOMPARE(remote.size(), 2);
    for (const QJsonValue &set : remote) {
        if (set["member"] == QStringLiteral("file"))
            QVERIFY(set["value"].toString().startsWith(server->baseUrl() + "/files/"));
        else
            QCOMPARE(set["value"].toString(), QStringLiteral("renamed"));
    }
    QVERIFY(answer.value("state").toInteger() > state);

    // A second client of the account, after its log-in poll, gets everything.
    const QJsonObject other = exchange(commitForm({}, 0, {}, {}));
    answer = exchange(commitForm(other, 0, {}, {}));
    QCOMPARE(answer.value("create").toArray().size(), 2);
    QCOMPARE(answer.value("set").toArray().size(), 3);

    // A forced result applies nothing.
    server->setForcedResult(3, 1);
    QCOMPARE(exchange(commitForm(session, state, {}, {})).value("result").toInt(), 3);
    QCOMPARE(exchange(commitForm(session, state, {}, {})).value("result").toInt(), 0);
}

void TestNetwork::serverFaultsShapeTheAnswer_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("malformed") << int(TestServer::Fault::Malformed);
    QTest::newRow("empty") << int(TestServer::Fault::Empty);
    QTest::newRow("deeply nested") << int(TestServer::Fault::DeeplyNested);
    QTest::newRow("huge") << int(TestServer::Fault::Huge);
}

void TestNetwork::serverFaultsShapeTheAnswer()
{
    QFETCH(int, fault);
    server->setHugeBodySize(4 * 1024 * 1024);
    server->setFault(TestServer::Fault(fault), 1);
    MultipartFormData form;
    form.addField(QStringLiteral("action"), QStringLiteral("commit"));
    form.addField(QStringLiteral("mail"), QStringLiteral("b@example.org"));
    form.addField(QStringLiteral("hash"), QStringLiteral("x"));
    QSignalSpy spy(net, &NetworkConnector::finished);
    const ConnectionId id = net->post(QUrl(server->endpoint()), form);
    QTRY_VERIFY(outcomeOf(spy, id).seen);
    const Outcome outcome = outcomeOf(spy, id);
    QVERIFY(!outcome.error); // a broken body is still a 200 to the HTTP layer

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(outcome.answer, &parseError);
    switch (TestServer::Fault(fault)) {
    case TestServer::Fault::Huge:
        QVERIFY(outcome.answer.size() >= 4 * 1024 * 1024 - 64);
        QCOMPARE(document.object().value("result").toInt(-1), 0);
        break;
    case TestServer::Fault::Empty:
        QVERIFY(outcome.answer.isEmpty());
        break;
    default:
        QVERIFY(parseError.error != QJsonParseError::NoError);
        break;
    }
    // The fault was for one request only.
    QCOMPARE(exchange(form).value("result").toInt(-1), 0);
}

void TestNetwork::heldAnswerArrivesOnRelease()
{
    server->setHoldAnswers(true);
    MultipartFormData form;
    form.addField(QStringLiteral("action"), QStringLiteral("commit"));
    form.addField(QStringLiteral("mail"), QStringLiteral("c@example.org"));
    form.addField(QStringLiteral("hash"), QStringLiteral("y"));
    QSignalSpy spy(net, &NetworkConnector::finished);
    const ConnectionId id = net->post(QUrl(server->endpoint()), form);
    QTRY_COMPARE(server->heldAnswerCount(), 1);
    QCOMPARE(spy.count(), 0);
    server->releaseHeldAnswers();
    QTRY_VERIFY(outcomeOf(spy, id).seen);
    QCOMPARE(QJsonDocument::fromJson(outcomeOf(spy, id).answer).object().value("result").toInt(-1), 0);
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
