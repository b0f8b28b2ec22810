// The loopback service answers as docs/sync-protocol.md says where the client
// never goes: serials out of bounds or without a key, clients before serials,
// states it never gave, and what a whole account and a commit sent again bring.

#include "multipartformdata.h"
#include "networkconnector.h"
#include "testserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

class TestService : public QObject
{
    Q_OBJECT
    TestServer server;
    QString session, sessionKey;

    // Posts a commit with these fields (a log-in when `logIn`) and returns
    // the answer.
    QJsonObject commit(const QHash<QString, QString> &fields, bool logIn = false)
    {
        MultipartFormData form;
        QHash<QString, QString> all{{"action", "commit"}, {"version", "1.0.1"}, {"state", "0"}};
        if (logIn)
            all.insert({{"mail", "a@example.org"}, {"hash", "h"}});
        else
            all.insert({{"session", session}, {"session_key", sessionKey}});
        all.insert(fields);
        for (auto it = all.cbegin(); it != all.cend(); ++it)
            form.addField(it.key(), it.value());
        QSignalSpy spy(NetworkConnector::instance(), &NetworkConnector::finished);
        NetworkConnector::instance()->post(QUrl(server.endpoint()), form);
        if (!spy.wait(10000))
            return {};
        const QJsonObject answer = QJsonDocument::fromJson(spy.first().at(2).toByteArray()).object();
        session = answer.value("session").toString(session);
        sessionKey = answer.value("session_key").toString(sessionKey);
        return answer;
    }
    int result(const QHash<QString, QString> &fields) { return commit(fields).value("result").toInt(-1); }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.addUser("a@example.org", "h");
    }

    // Bounds and key first; a serial is taken only when the commit applies;
    // a store the service has no serials of starts at 1, else it is retired,
    // and a client before serials under it clashes too.
    void serialsAreCheckedInOrder()
    {
        const QString create = R"([{"id": -1, "type": "skrin", "token": "t1"}])";
        QCOMPARE(commit({{"store", "A"}, {"serial", "1"}, {"serial_key", "k"}, {"create", create}}, true)
                     .value("result"), 1); // a log-in with a change
        for (const char *bad : {"0", "-1", "+2", "1.0", "abc", "9007199254740992", "99999999999999999999"})
            QCOMPARE(result({{"store", "A"}, {"serial", bad}, {"serial_key", "k"}}), 1);
        QCOMPARE(result({{"store", "A"}, {"serial", "1"}}), 1);
        QCOMPARE(result({{"store", "A"}, {"serial", "1"}, {"serial_key", QString(65, 'a')}}), 1);
        QCOMPARE(result({{"serial", "abc"}, {"serial_key", "k"}}), 1); // bounds before the store
        QCOMPARE(commit({{"store", "A"}, {"serial", " 01 "}, {"serial_key", "k"}}).value("serial"), 1);
        QCOMPARE(result({{"store", "B"}, {"serial", "5"}, {"serial_key", "k"}}), 5);
        QCOMPARE(result({{"store", "B"}}), 5);
        QCOMPARE(result({{"store", "C"}}), 0);
        QVERIFY(server.itemIds().isEmpty());
    }

    void unknownStatesGetTheWholeAccount()
    {
        const qint64 mine = server.createItem("a@example.org", "skrin");
        const qint64 other = server.createItem("a@example.org", "skrin");
        const QString create = R"([{"id": -1, "type": "skrin", "token": "d1"}])";
        const qint64 own = commit({{"store", "D"}, {"create", create}}).value("translate")["-1"].toInteger();
        QCOMPARE(result({{"store", "D"}, {"remove", QStringLiteral("[%1]").arg(own)}}), 0);
        server.removeItem(mine);
        // A state above the service's latest is one it never gave; the whole
        // account holds every removal, the asking store's own too.
        const QJsonObject answer = commit({{"store", "D"}, {"state", "999999"}});
        QVERIFY(answer.value("state").toInteger() < 999999);
        QVERIFY(answer.value("create").toArray().contains(QJsonObject{{"id", other}, {"type", "skrin"}}));
        const QJsonArray removed = answer.value("remove").toArray();
        QVERIFY(removed.contains(mine) && removed.contains(own));
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
