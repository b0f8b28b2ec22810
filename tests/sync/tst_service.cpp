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

    void serialsAreCheckedInOrder()
    {
        const QString create = R"([{"id": -1, "type": "skrin", "token": "t1"}])";
        // A log-in with a change applies nothing and takes no serial.
        QCOMPARE(commit({{"store", "A"}, {"serial", "1"}, {"serial_key", "k1"}, {"create", create}}, true)
                     .value("result"), 1);
        for (const char *bad : {"0", "-1", "+2", "1.0", "abc", "9007199254740992", "99999999999999999999"})
            QCOMPARE(result({{"store", "A"}, {"serial", bad}, {"serial_key", "k1"}}), 1);
        QCOMPARE(result({{"store", "A"}, {"serial", "1"}}), 1);
        QCOMPARE(result({{"store", "A"}, {"serial", "1"}, {"serial_key", QString(65, 'a')}}), 1);
        QVERIFY(server.itemIds().isEmpty());

        // Blanks around the digits are taken; the first serial is 1.
        const QJsonObject first = commit({{"store", "A"}, {"serial", " 1 "}, {"serial_key", "k1"}, {"create", create}});
        QCOMPARE(first.value("serial"), 1);
        const qint64 item = first.value("translate")["-1"].toInteger();
        const QString set = QStringLiteral(R"([{"id": %1, "member": "title", "value": "x",
            "modified": "2024-05-01T10:00:00.000Z"}])").arg(item);
        QCOMPARE(result({{"store", "A"}, {"serial", "2"}, {"serial_key", "k2"}, {"set", set}}), 0);
        // Sent again, the commit echoes its own set and brings its store's creates
        // below "last_local_id", made since: none.
        const QJsonObject again = commit({{"store", "A"}, {"serial", "2"}, {"serial_key", "k2"}, {"set", set},
                                          {"state", first.value("state").toVariant().toString()},
                                          {"last_local_id", "-1"}});
        QCOMPARE(again.value("set").toArray().size(), 1);
        QCOMPARE(again.value("create").toArray().size(), 0);

        // A store unknown to the service starts at 1; one that does not is
        // retired, and a client before serials under it clashes too.
        QCOMPARE(result({{"store", "B"}, {"serial", "5"}, {"serial_key", "k5"}}), 5);
        QCOMPARE(result({{"store", "B"}}), 5);
        QCOMPARE(result({{"store", "C"}}), 0);
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
