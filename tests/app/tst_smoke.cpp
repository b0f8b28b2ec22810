// The real program under a virtual X server: start it in an empty folder,
// capture a region with the mouse, quit, and read what it stored.

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestSmoke : public QObject
{
    Q_OBJECT

private slots:
    void captureAndQuit();
};

void TestSmoke::captureAndQuit()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty())
        QSKIP("xvfb-run is not installed");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QSize dragged(300, 200);

    QProcess session;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The program talks to the virtual X server, not to Qt's offscreen platform.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    session.setProcessEnvironment(environment);
    session.setProcessChannelMode(QProcess::ForwardedChannels);
    session.start(QStringLiteral("xvfb-run"),
                  {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24"),
                   QStringLiteral(PELLIMORE_SMOKE_SESSION), QStringLiteral(PELLIMORE_PROGRAM), folder.path(),
                   QString::number(dragged.width()), QString::number(dragged.height())});
    QVERIFY(session.waitForStarted());
    if (!session.waitForFinished(25000)) {
        session.kill();
        QFAIL("the session did not end within 25 s");
    }
    QCOMPARE(session.exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.exitCode(), 0);

    QString file;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("smoke"));
        db.setDatabaseName(QDir(folder.path()).filePath(QStringLiteral("database.db")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT COUNT(*) FROM skrin")) && query.next());
        QCOMPARE(query.value(0).toInt(), 1);
        QVERIFY(query.exec(QStringLiteral("SELECT skrin_image.file FROM skrin_image "
                                          "JOIN skrin ON skrin.id = skrin_image.parent")));
        QVERIFY(query.next());
        file = query.value(0).toString();
        QVERIFY(!query.next());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("smoke"));

    const QString path = QDir(folder.path()).filePath(QStringLiteral("files/") + file);
    QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    const QImage picture(path);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), dragged);
}

QTEST_GUILESS_MAIN(TestSmoke)
#include "tst_smoke.moc"
