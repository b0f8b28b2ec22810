// Date-times between clients in different time zones: a screenshot taken
// offline in one zone and sent after a restart in another reaches the
// service at the instant it was taken, and another client in a third zone
// reads that instant back. Each client is a process with its zone in TZ.

#include "syncfixture.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>

using namespace synctest;

namespace {

// A client: this executable started with "--client <endpoint> <folder>
// <step> [<title> <msecs>]". Steps: "shoot" (offline: a screenshot titled
// <title> created at <msecs>, and nothing sent), "sync", and "dump" (the
// screenshots' titles and creation times in UTC, after a sync).
int runClient(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (!startChildClient(arguments.value(3), arguments.value(2)))
        return 1;
    const QString step = arguments.value(4);
    if (step == "shoot") {
        const Id skrin = createItem("skrin");
        setMember(skrin, "title", arguments.value(5));
        setMember(skrin, "created", QDateTime::fromMSecsSinceEpoch(arguments.value(6).toLongLong()));
    } else if (!syncAll()) {
        return 2;
    } else if (step == "dump") {
        QJsonObject created;
        for (const Id id : findItems({{"type", "skrin"}}))
            created.insert(getMember(id, "title").toString(),
                           getMember(id, "created").toDateTime().toUTC().toString(Qt::ISODateWithMs));
        std::puts(QJsonDocument(created).toJson(QJsonDocument::Compact).constData());
    }
    return shutdownBackground() ? 0 : 3;
}

QString utc(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace

class TestZones : public QObject
{
    Q_OBJECT
    TestServer server;
    QProcess client;

    // Runs a client in `zone` to its end; the event loop keeps running
    // meanwhile, for the service lives in this process.
    bool runClient(const char *zone, const QString &folder, const QStringList &step)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TZ", zone);
        client.setProcessEnvironment(environment);
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList arguments{"--client", server.endpoint(), folder};
        client.start(QCoreApplication::applicationFilePath(), arguments + step);
        const auto ended = [&] { return client.state() == QProcess::NotRunning; };
        return client.waitForStarted(10000) && QTest::qWaitFor(ended, 30000)
               && client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
    }

    // The sets of `member` the service received: value -> the "modified"
    // each was sent with.
    QMap<QString, QString> sentSets(const QString &member) const
    {
        QMap<QString, QString> sets;
        for (const TestServer::Request &request : server.requests()) {
            const QJsonArray entries = QJsonDocument::fromJson(request.fields.value("set").toUtf8()).array();
            for (const QJsonValue &entry : entries) {
                if (entry["member"].toString() == member)
                    sets.insert(entry["value"].toString(), entry["modified"].toString());
            }
        }
        return sets;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.addUser(mail, hash);
    }

    void cleanup()
    {
        if (client.state() != QProcess::NotRunning) {
            client.kill();
            client.waitForFinished(10000);
        }
    }

    void createdTimesKeepTheirInstant()
    {
        QTemporaryDir folder, other;
        // 13:30 in Kolkata; 1:30 in New York on the night the clocks go
        // back, the second time that hour comes.
        const qint64 kolkata = QDateTime(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC).toMSecsSinceEpoch();
        const qint64 repeated = QDateTime(QDate(2024, 11, 3), QTime(6, 30), Qt::UTC).toMSecsSinceEpoch();
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(runClient("Asia/Kolkata", folder.path(), {"shoot", "kolkata", QString::number(kolkata)}));
        QVERIFY(runClient("America/New_York", folder.path(), {"shoot", "repeated", QString::number(repeated)}));
        const qint64 shot = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(server.itemIds("skrin").isEmpty()); // nothing left before the restart
        QVERIFY(runClient("America/New_York", folder.path(), {"sync"}));

        QMap<QString, QString> onService;
        for (const qint64 id : server.itemIds("skrin"))
            onService.insert(server.member(id, "title").toString(), server.member(id, "created").toString());
        const QMap<QString, QString> expected{{"kolkata", utc(kolkata)}, {"repeated", utc(repeated)}};
        QCOMPARE(onService, expected);
        // Each set says when it was made, in UTC, unshifted by the restart.
        const QMap<QString, QString> sets = sentSets("created");
        QCOMPARE(sets.keys(), QStringList(expected.cbegin(), expected.cend()));
        for (const QString &modified : sets) {
            QVERIFY2(modified.endsWith('Z'), qPrintable(modified));
            const qint64 at = QDateTime::fromString(modified, Qt::ISODateWithMs).toMSecsSinceEpoch();
            QVERIFY2(at >= start - 1000 && at <= shot + 1000, qPrintable(modified));
        }

        QVERIFY(runClient("Asia/Tokyo", other.path(), {"dump"}));
        const QVariantMap dumped = QJsonDocument::fromJson(client.readAllStandardOutput()).toVariant().toMap();
        QCOMPARE(dumped.value("kolkata").toString(), utc(kolkata));
        QCOMPARE(dumped.value("repeated").toString(), utc(repeated));
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--client") == 0)
        return runClient(argc, argv);
    QGuiApplication app(argc, argv);
    TestZones test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_zones.moc"
